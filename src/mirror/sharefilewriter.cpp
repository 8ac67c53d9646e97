#include "mirror/sharefilewriter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora {
namespace {

// Maps `path` read-write with exactly `size` bytes: the existing file when it
// already has that size, else a new file that replaces it. nullptr on failure
// (`error` says why).
uint8_t* MapFileOfSize(const std::string& directory, const std::string& path, size_t size,
                       std::string* error) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd >= 0 &&
        (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) != size)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        std::string temp = directory + "/.ztvl-XXXXXX";
        std::vector<char> name(temp.begin(), temp.end());
        name.push_back('\0');
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            *error = path + ": cannot create a file in " + directory + ": " + std::strerror(errno);
            return nullptr;
        }
        // Reserve the blocks now: a full disk must fail here, not later as
        // a fault on a write through the mapping.
        int rc = posix_fallocate(fd, 0, static_cast<off_t>(size));
        if (rc != 0 || rename(name.data(), path.c_str()) != 0) {
            *error = path + ": " + std::strerror(rc != 0 ? rc : errno);
            unlink(name.data());
            close(fd);
            return nullptr;
        }
    }
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapErrno = errno;
    close(fd);
    if (view == MAP_FAILED) {
        *error = path + ": cannot map: " + std::strerror(mapErrno);
        return nullptr;
    }
    return static_cast<uint8_t*>(view);
}

uint8_t Unpremultiply(uint32_t channel, uint32_t alpha) {
    if (alpha == 0) return 0;
    return static_cast<uint8_t>(std::min<uint32_t>(255, (channel * 255 + alpha / 2) / alpha));
}

}  // namespace

ShareFileWriter::~ShareFileWriter() {
    Close();
}

int ShareFileWriter::Open(const std::string& directory, int width, int height) {
    Close();
    directory_ = directory;
    error_.clear();
    pointer_ =
        MapFileOfSize(directory, directory + "/" + kPointerFileName, kPointerFileSize, &error_);
    if (pointer_ == nullptr) return kPointerFileFailed;
    std::memset(pointer_, 0, kPointerHeaderSize);
    const int rc = OpenScreen(width, height);
    if (rc != kOk) Close();
    return rc;
}

int ShareFileWriter::OpenScreen(int width, int height) {
    if (width < 1 || height < 1 || width > int(kMaxScreenSide) || height > int(kMaxScreenSide)) {
        error_ = "screen size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is out of range";
        return kBadSize;
    }
    const auto w = static_cast<uint32_t>(width);
    const auto h = static_cast<uint32_t>(height);
    screenPath_ = directory_ + "/" + kScreenFileName;
    screenSize_ = ScreenFileSize(w, h);
    screen_ = MapFileOfSize(directory_, screenPath_, screenSize_, &error_);
    if (screen_ == nullptr) return kScreenFileFailed;
    width_ = width;
    height_ = height;
    SCREENFILE_HEADER* header = ScreenHeader();
    header->width = w;
    header->height = h;
    header->bitsPerPixel = kScreenBitsPerPixel;
    header->reserved1 = 0;
    header->reserved2 = 0;
    StoreFlag(header->drawn, 0);
    StoreFlag(header->sharing, 0);
    header->signature = kScreenSignature;
    return kOk;
}

int ShareFileWriter::SwitchMode(int width, int height) {
    if (pointer_ == nullptr) return kPointerFileFailed;
    CloseScreen();
    std::memset(pointer_, 0, kPointerHeaderSize);
    return OpenScreen(width, height);
}

void ShareFileWriter::CloseScreen() {
    if (screen_ == nullptr) return;
    StoreFlag(ScreenHeader()->sharing, 0);
    munmap(screen_, screenSize_);
    screen_ = nullptr;
    screenSize_ = 0;
    width_ = height_ = 0;
}

void ShareFileWriter::Close() {
    CloseScreen();
    if (pointer_ != nullptr) {
        munmap(pointer_, kPointerFileSize);
        pointer_ = nullptr;
    }
}

FrameCanvas ShareFileWriter::Canvas() const {
    if (screen_ == nullptr) return {};
    return {screen_ + kScreenHeaderSize, width_, height_};
}

void ShareFileWriter::MarkDrawn() {
    if (screen_ == nullptr) return;
    std::atomic_thread_fence(std::memory_order_release);
    StoreFlag(ScreenHeader()->drawn, 1);
}

void ShareFileWriter::SetFrameCounter(uint32_t frame) {
    if (screen_ != nullptr) StoreFlag(ScreenHeader()->reserved2, frame);
}

void ShareFileWriter::SetPointerShape(const uint32_t* argb, int width, int height, int xHot,
                                      int yHot, int x, int y) {
    if (pointer_ == nullptr || argb == nullptr || width < 1 || height < 1) return;
    const int w = std::min(width, kMaxPointerSide);
    const int h = std::min(height, kMaxPointerSide);
    const int paddedW = (w + 31) / 32 * 32;
    const size_t colourBytes = size_t(paddedW) * size_t(h) * 4;
    const size_t maskRow = size_t(paddedW) / 8;
    const size_t maskBytes = maskRow * size_t(h) * 2;
    static_assert(size_t{kMaxPointerSide} * kMaxPointerSide * 4 +
                      size_t{kMaxPointerSide} * kMaxPointerSide / 4 <=
                  kPointerBitsSize);

    uint8_t* colour = pointer_ + kPointerHeaderSize;
    uint8_t* mask = colour + colourBytes;
    std::memset(colour, 0, colourBytes);
    std::memset(mask, 0, maskBytes);
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < paddedW; ++col) {
            const uint32_t p = col < w ? argb[size_t(row) * size_t(width) + size_t(col)] : 0;
            const uint32_t a = p >> 24;
            uint8_t* out = colour + (size_t(row) * size_t(paddedW) + size_t(col)) * 4;
            out[0] = Unpremultiply(p & 0xFF, a);
            out[1] = Unpremultiply((p >> 8) & 0xFF, a);
            out[2] = Unpremultiply((p >> 16) & 0xFF, a);
            out[3] = static_cast<uint8_t>(a);
            if (a < 128)
                mask[size_t(row) * maskRow + size_t(col) / 8] |= uint8_t(0x80u >> (col % 8));
        }
    }

    POINTERFILE_HEADER* header = PointerHeader();
    header->x = x;
    header->y = y;
    header->xHot = std::clamp(xHot, 0, w - 1);
    header->yHot = std::clamp(yHot, 0, h - 1);
    header->shapeWidth = static_cast<uint32_t>(paddedW);
    header->shapeHeight = static_cast<uint32_t>(h);
    header->firstSize = static_cast<uint32_t>(colourBytes);
    header->maskSize = static_cast<uint32_t>(maskBytes);
    header->colour = 1;
    header->format = kPointerFormat32Bpp;
    header->hasMask = 1;
    header->firstTopDown = 1;
    header->maskTopDown = 1;
    // The bits and fields above are complete before a reader can see the flags.
    std::atomic_thread_fence(std::memory_order_release);
    StoreFlag(header->shapeChanged, 1);
    StoreFlag(header->changed, 1);
}

void ShareFileWriter::MovePointer(int x, int y) {
    if (pointer_ == nullptr) return;
    POINTERFILE_HEADER* header = PointerHeader();
    if (header->x.get() == x && header->y.get() == y) return;
    header->x = x;
    header->y = y;
    std::atomic_thread_fence(std::memory_order_release);
    StoreFlag(header->changed, 1);
}

}  // namespace velmora
