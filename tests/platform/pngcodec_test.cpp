#include "platform/pngcodec.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<uint32_t> Picture(int width, int height, bool alpha) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t a = alpha ? uint32_t((x * 31 + y) & 0xFF) : 0xFFu;
            pixels.push_back(a << 24 | uint32_t(x * 17 & 0xFF) << 16 |
                             uint32_t(y * 29 & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF));
        }
    }
    return pixels;
}

void PutBe32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void Chunk(Bytes& out, const char* type, const Bytes& body) {
    PutBe32(out, uint32_t(body.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutBe32(out, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

// A PNG written by hand: RGB rows each with filter `filters[y % n]`, so the
// decoder meets what other encoders write.
Bytes HandMade(int width, int height, const std::vector<uint8_t>& filters, uint8_t colourType = 2,
               uint8_t bitDepth = 8, uint8_t interlace = 0) {
    const int bpp = 3;
    const size_t rowBytes = size_t(width) * bpp;
    Bytes raw, previous(rowBytes, 0);
    for (int y = 0; y < height; ++y) {
        Bytes row(rowBytes);
        for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t((i * 37 + y * 11) ^ (i >> 2));
        const uint8_t f = filters[size_t(y) % filters.size()];
        raw.push_back(f);
        for (size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = previous[i];
            const int c = i >= bpp ? previous[i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predicted = f == 1   ? a
                                  : f == 2 ? b
                                  : f == 3 ? (a + b) / 2
                                  : f == 4 ? paeth
                                           : 0;
            raw.push_back(uint8_t(row[i] - predicted));
        }
        previous = row;
    }
    uLongf packedLength = compressBound(uLong(raw.size()));
    Bytes packed(packedLength);
    compress(packed.data(), &packedLength, raw.data(), uLong(raw.size()));
    packed.resize(packedLength);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, uint32_t(width));
    PutBe32(ihdr, uint32_t(height));
    ihdr.insert(ihdr.end(), {bitDepth, colourType, 0, 0, interlace});
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "tEXt", Bytes{'a', 0, 'b'});  // an ancillary chunk to skip
    Chunk(png, "IDAT", Bytes(packed.begin(), packed.begin() + packed.size() / 2));
    Chunk(png, "IDAT", Bytes(packed.begin() + packed.size() / 2, packed.end()));
    Chunk(png, "IEND", {});
    return png;
}

TEST(PngCodec, RoundTripsWithAndWithoutAlphaAndAnyStride) {
    struct Case {
        int width, height;
        size_t stride;
        bool alpha;
    } cases[] = {{1, 1, 1, false}, {3, 2, 3, true}, {17, 5, 20, false}, {64, 48, 64, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        std::vector<uint32_t> source = Picture(int(c.stride), c.height, c.alpha);
        Bytes png;
        ASSERT_EQ(EncodePng(source.data(), c.width, c.height, c.stride, c.alpha, png), pngOk);
        PngPicture decoded;
        ASSERT_EQ(DecodePng(png.data(), png.size(), &decoded), pngOk);
        ASSERT_EQ(decoded.width, c.width);
        ASSERT_EQ(decoded.height, c.height);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                uint32_t want = source[size_t(y) * c.stride + size_t(x)];
                if (!c.alpha) want |= 0xFF000000u;
                ASSERT_EQ(decoded.pixels[size_t(y) * c.width + size_t(x)], want);
            }
        }
    }
}

TEST(PngCodec, DecodesEveryRowFilterAndSplitImageData) {
    const Bytes png = HandMade(7, 10, {0, 1, 2, 3, 4});
    PngPicture decoded;
    ASSERT_EQ(DecodePng(png.data(), png.size(), &decoded), pngOk);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 7; ++x) {
            uint8_t rgb[3];
            for (int k = 0; k < 3; ++k) {
                const size_t i = size_t(x) * 3 + size_t(k);
                rgb[k] = uint8_t((i * 37 + y * 11) ^ (i >> 2));
            }
            ASSERT_EQ(decoded.pixels[size_t(y) * 7 + size_t(x)],
                      0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2]);
        }
    }
}

TEST(PngCodec, RefusesDamagedAndUnsupportedFiles) {
    const Bytes good = HandMade(4, 4, {1});
    Bytes badCrc = good;
    badCrc[20] ^= 1;  // inside IHDR
    Bytes noEnd(good.begin(), good.end() - 12);
    Bytes badFilter = HandMade(4, 4, {5});
    Bytes truncated(good.begin(), good.begin() + 40);
    struct Case {
        const char* name;
        Bytes png;
        int code;
    } cases[] = {
        {"not a PNG", Bytes{'G', 'I', 'F', '8'}, pngBadFormat},
        {"damaged CRC", badCrc, pngBadFormat},
        {"no IEND", noEnd, pngBadFormat},
        {"cut short", truncated, pngBadFormat},
        {"unknown row filter", badFilter, pngBadFormat},
        {"palette colour type", HandMade(4, 4, {0}, 3), pngUnsupported},
        {"16 bits per sample", HandMade(4, 4, {0}, 2, 16), pngUnsupported},
        {"interlaced", HandMade(4, 4, {0}, 2, 8, 1), pngUnsupported},
        {"wider than the limit", HandMade(kPngMaxSide + 1, 1, {0}), pngTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngPicture decoded;
        EXPECT_EQ(DecodePng(c.png.data(), c.png.size(), &decoded), c.code);
    }
    // Image data that inflates to more rows than the header has.
    Bytes longer = HandMade(4, 5, {0});
    const Bytes shorter = HandMade(4, 4, {0});
    std::copy(shorter.begin() + 16, shorter.begin() + 33, longer.begin() + 16);  // IHDR body, CRC
    PngPicture decoded;
    EXPECT_EQ(DecodePng(longer.data(), longer.size(), &decoded), pngBadFormat);
}

TEST(PngCodec, FilesAreWrittenWholeAndErrorsSaySo) {
    char dir[] = "/tmp/pngcodec_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/a.png";
    const std::vector<uint32_t> pixels = Picture(9, 4, false);
    std::string error;
    ASSERT_EQ(WritePngFile(path, pixels.data(), 9, 4, 9, false, &error), pngOk) << error;
    EXPECT_NE(access((path + ".part").c_str(), F_OK), 0);
    PngPicture back;
    ASSERT_EQ(ReadPngFile(path, &back, &error), pngOk) << error;
    EXPECT_EQ(back.width, 9);
    EXPECT_EQ(WritePngFile(std::string(dir) + "/none/b.png", pixels.data(), 9, 4, 9, false, &error),
              pngIoError);
    EXPECT_NE(error.find("none/b.png"), std::string::npos);
    EXPECT_EQ(ReadPngFile(std::string(dir) + "/missing.png", &back, &error), pngIoError);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace velmora
