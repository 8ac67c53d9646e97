#include "platform/pngcodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace velmora {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kColourRgb = 2, kColourRgba = 6;
constexpr int kLevel = 6;

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

uint32_t GetBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Appends one chunk: length, type, data, CRC over type and data.
void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t length) {
    PutBe32(out, static_cast<uint32_t>(length));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (length != 0) out.insert(out.end(), data, data + length);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32_z(crc, out.data() + typeAt, 4 + length);
    PutBe32(out, static_cast<uint32_t>(crc));
}

int PaethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Undoes the filter of one row in place; `previous` is the row above after
// its own unfiltering (zeros for the first row).
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* previous, size_t rowBytes, int bpp) {
    switch (filter) {
        case 0:
            return true;
        case 1:
            for (size_t i = static_cast<size_t>(bpp); i < rowBytes; ++i) row[i] += row[i - bpp];
            return true;
        case 2:
            for (size_t i = 0; i < rowBytes; ++i) row[i] += previous[i];
            return true;
        case 3:
            for (size_t i = 0; i < rowBytes; ++i) {
                const int left = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
                row[i] += static_cast<uint8_t>((left + previous[i]) / 2);
            }
            return true;
        case 4:
            for (size_t i = 0; i < rowBytes; ++i) {
                const bool hasLeft = i >= static_cast<size_t>(bpp);
                const int left = hasLeft ? row[i - bpp] : 0;
                const int upLeft = hasLeft ? previous[i - bpp] : 0;
                row[i] += static_cast<uint8_t>(PaethPredictor(left, previous[i], upLeft));
            }
            return true;
        default:
            return false;
    }
}

// Inflates a zlib stream into exactly `expected` bytes.
int InflateExactly(const std::vector<uint8_t>& compressed, uint8_t* out, size_t expected) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return pngNoMemory;
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(expected);
    const int z = inflate(&stream, Z_FINISH);
    const bool complete = z == Z_STREAM_END && stream.avail_out == 0;
    inflateEnd(&stream);
    return complete ? pngOk : pngBadFormat;
}

struct Header {
    int width = 0;
    int height = 0;
    int bpp = 0;  // bytes per pixel: 3 or 4
};

int ReadHeader(const uint8_t* data, size_t length, Header* header) {
    if (length != 13) return pngBadFormat;
    const uint32_t width = GetBe32(data), height = GetBe32(data + 4);
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        return pngBadFormat;
    }
    if (data[10] != 0 || data[11] != 0 || data[12] > 1) return pngBadFormat;
    if (data[8] != 8 || (data[9] != kColourRgb && data[9] != kColourRgba) || data[12] != 0) {
        return pngUnsupported;
    }
    if (width > kPngMaxSide || height > kPngMaxSide) return pngTooLarge;
    header->width = static_cast<int>(width);
    header->height = static_cast<int>(height);
    header->bpp = data[9] == kColourRgba ? 4 : 3;
    return pngOk;
}

// Walks the chunks: the header into *header, the image data concatenated.
int ReadChunks(const uint8_t* data, size_t length, Header* header, std::vector<uint8_t>& idat) {
    if (length < sizeof(kSignature) || std::memcmp(data, kSignature, sizeof(kSignature)) != 0) {
        return pngBadFormat;
    }
    size_t at = sizeof(kSignature);
    bool sawHeader = false;
    while (true) {
        if (length - at < 12) return pngBadFormat;  // no IEND
        const uint32_t chunkLength = GetBe32(data + at);
        if (chunkLength > length - at - 12) return pngBadFormat;
        const uint8_t* type = data + at + 4;
        const uint8_t* body = type + 4;
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32_z(crc, type, 4 + size_t{chunkLength});
        if (GetBe32(body + chunkLength) != static_cast<uint32_t>(crc)) return pngBadFormat;
        at += 12 + size_t{chunkLength};
        if (!sawHeader) {
            if (std::memcmp(type, "IHDR", 4) != 0) return pngBadFormat;
            const int result = ReadHeader(body, chunkLength, header);
            if (result != pngOk) return result;
            sawHeader = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.insert(idat.end(), body, body + chunkLength);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return idat.empty() ? pngBadFormat : pngOk;
        } else if (std::memcmp(type, "IHDR", 4) == 0) {
            return pngBadFormat;
        } else if ((type[0] & 0x20) == 0 && std::memcmp(type, "PLTE", 4) != 0) {
            return pngUnsupported;  // a critical chunk this decoder does not know
        }
    }
}

}  // namespace

int EncodePng(const uint32_t* pixels, int width, int height, size_t stride, bool withAlpha,
              std::vector<uint8_t>& out) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < static_cast<size_t>(width)) {
        return pngBadArgument;
    }
    if (width > kPngMaxSide || height > kPngMaxSide) return pngTooLarge;
    const int bpp = withAlpha ? 4 : 3;
    const size_t rowBytes = 1 + static_cast<size_t>(width) * bpp;
    try {
        std::vector<uint8_t> raw(rowBytes * static_cast<size_t>(height));
        for (int y = 0; y < height; ++y) {
            uint8_t* row = raw.data() + rowBytes * static_cast<size_t>(y);
            const uint32_t* source = pixels + stride * static_cast<size_t>(y);
            *row++ = 0;  // filter: none
            for (int x = 0; x < width; ++x) {
                const uint32_t p = source[x];
                *row++ = static_cast<uint8_t>(p >> 16);
                *row++ = static_cast<uint8_t>(p >> 8);
                *row++ = static_cast<uint8_t>(p);
                if (withAlpha) *row++ = static_cast<uint8_t>(p >> 24);
            }
        }
        uLongf packedLength = compressBound(static_cast<uLong>(raw.size()));
        std::vector<uint8_t> packed(packedLength);
        if (compress2(packed.data(), &packedLength, raw.data(), static_cast<uLong>(raw.size()),
                      kLevel) != Z_OK) {
            return pngNoMemory;
        }
        const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
        const uint8_t ihdr[13] = {static_cast<uint8_t>(w >> 24),
                                  static_cast<uint8_t>(w >> 16),
                                  static_cast<uint8_t>(w >> 8),
                                  static_cast<uint8_t>(w),
                                  static_cast<uint8_t>(h >> 24),
                                  static_cast<uint8_t>(h >> 16),
                                  static_cast<uint8_t>(h >> 8),
                                  static_cast<uint8_t>(h),
                                  8,
                                  withAlpha ? kColourRgba : kColourRgb,
                                  0,
                                  0,
                                  0};
        out.clear();
        out.reserve(sizeof(kSignature) + 25 + 12 + packedLength + 12);
        out.insert(out.end(), kSignature, kSignature + sizeof(kSignature));
        PutChunk(out, "IHDR", ihdr, sizeof(ihdr));
        PutChunk(out, "IDAT", packed.data(), packedLength);
        PutChunk(out, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        return pngNoMemory;
    }
    return pngOk;
}

int DecodePng(const uint8_t* data, size_t length, PngPicture* out) {
    if (data == nullptr || out == nullptr) return pngBadArgument;
    try {
        Header header;
        std::vector<uint8_t> idat;
        int result = ReadChunks(data, length, &header, idat);
        if (result != pngOk) return result;
        const size_t rowBytes = static_cast<size_t>(header.width) * header.bpp;
        std::vector<uint8_t> raw((rowBytes + 1) * static_cast<size_t>(header.height));
        result = InflateExactly(idat, raw.data(), raw.size());
        if (result != pngOk) return result;
        std::vector<uint8_t> zeros(rowBytes, 0);
        const uint8_t* previous = zeros.data();
        out->pixels.resize(static_cast<size_t>(header.width) * header.height);
        for (int y = 0; y < header.height; ++y) {
            uint8_t* row = raw.data() + (rowBytes + 1) * static_cast<size_t>(y);
            if (!Unfilter(row[0], row + 1, previous, rowBytes, header.bpp)) return pngBadFormat;
            previous = row + 1;
            uint32_t* target = out->pixels.data() + static_cast<size_t>(header.width) * y;
            for (int x = 0; x < header.width; ++x) {
                const uint8_t* p = row + 1 + static_cast<size_t>(x) * header.bpp;
                const uint32_t alpha = header.bpp == 4 ? p[3] : 0xFFu;
                target[x] = alpha << 24 | static_cast<uint32_t>(p[0]) << 16 |
                            static_cast<uint32_t>(p[1]) << 8 | p[2];
            }
        }
        out->width = header.width;
        out->height = header.height;
    } catch (const std::bad_alloc&) {
        return pngNoMemory;
    }
    return pngOk;
}

int WritePngFile(const std::string& path, const uint32_t* pixels, int width, int height,
                 size_t stride, bool withAlpha, std::string* error) {
    std::vector<uint8_t> bytes;
    int result = EncodePng(pixels, width, height, stride, withAlpha, bytes);
    if (result != pngOk) {
        if (error != nullptr) *error = PngErrorText(result);
        return result;
    }
    const std::string temporary = path + ".part";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    for (size_t at = 0; written && at < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) at += static_cast<size_t>(n);
    }
    const int savedErrno = errno;
    if (fd >= 0 && close(fd) != 0) written = false;
    if (written && rename(temporary.c_str(), path.c_str()) == 0) return pngOk;
    if (error != nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(fd < 0 ? savedErrno : errno);
    }
    if (fd >= 0) unlink(temporary.c_str());
    return pngIoError;
}

int ReadPngFile(const std::string& path, PngPicture* out, std::string* error) {
    std::vector<uint8_t> bytes;
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        if (error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
        return pngIoError;
    }
    uint8_t buffer[65536];
    size_t n;
    // A file beyond what the largest picture could take is not read whole.
    constexpr size_t kLimit = size_t{kPngMaxSide} * kPngMaxSide * 5;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0 && bytes.size() < kLimit) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        if (error != nullptr) *error = "cannot read " + path;
        return pngIoError;
    }
    const int result = DecodePng(bytes.data(), bytes.size(), out);
    if (result != pngOk && error != nullptr) *error = path + ": " + PngErrorText(result);
    return result;
}

const char* PngErrorText(int code) {
    switch (code) {
        case pngOk:
            return "ok";
        case pngBadArgument:
            return "no picture to write";
        case pngIoError:
            return "the file cannot be read or written";
        case pngBadFormat:
            return "not a PNG file, or a damaged one";
        case pngUnsupported:
            return "a kind of PNG this program does not read (8-bit RGB or RGBA only)";
        case pngTooLarge:
            return "the picture is too large";
        case pngNoMemory:
            return "out of memory";
        default:
            return "unknown PNG error";
    }
}

}  // namespace velmora
