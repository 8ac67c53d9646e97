#include "server/screen/ztvl.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/runtime_dir.h"

namespace velmora {
namespace {

// Opens and maps a whole existing file read-write. 0, or -1 when it could
// not be opened (or is not a regular file), -2 when it could not be mapped.
int MapExisting(const std::string& path, uint8_t** view, size_t* size, struct stat* st,
                std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_size <= 0) {
        *error = path + ": " + (fd < 0 ? std::strerror(errno) : "not a usable file");
        if (fd >= 0) close(fd);
        return -1;
    }
    void* p = mmap(nullptr, size_t(st->st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapErrno = errno;
    close(fd);
    if (p == MAP_FAILED) {
        *error = path + ": cannot map: " + std::strerror(mapErrno);
        return -2;
    }
    *view = static_cast<uint8_t*>(p);
    *size = size_t(st->st_size);
    return 0;
}

const char* HeaderProblem(int code) {
    switch (code) {
        case kHeaderTooShort:
            return "the file is too short for a header";
        case kHeaderBadSize:
            return "the header's width or height is out of range";
        case kHeaderBadDepth:
            return "the header's bits per pixel is not 32";
        default:
            return "the header claims an image larger than the file";
    }
}

}  // namespace

ZTVL::ZTVL() : ZTVL(Options{}) {}

ZTVL::ZTVL(Options options) : options_(std::move(options)) {}

ZTVL::~ZTVL() {
    ReleaseFiles();
    (void)Detach();
}

int ZTVL::Attach() {
    if (attached_ && source_.Alive()) return kOk;
    const std::string program = SourceProcess::Find(options_.program);
    if (program.empty()) {
        error_ = "the screen source " + options_.program +
                 " was found neither next to this program nor on PATH";
        return kNotFound;
    }
    if (directory_.empty()) {
        directory_ = options_.directory.empty() ? RuntimeDir(&error_) : options_.directory;
        if (directory_.empty()) return kSourceFailed;
    }
    std::vector<std::string> arguments = options_.arguments;
    arguments.push_back("--dir");
    arguments.push_back(directory_);
    if (source_.Start(program, arguments, options_.readyMs, &error_) != SourceProcess::kStarted) {
        return kSourceFailed;
    }
    attached_ = true;
    return kOk;
}

int ZTVL::Detach() {
    const bool killed = source_.Stop(options_.stopMs) == SourceProcess::kKilled;
    attached_ = false;
    sharing_ = 0;
    return killed ? kFailed : kOk;
}

int ZTVL::MapScreenFile() {
    const std::string path = directory_ + "/" + kScreenFileName;
    struct stat st {};
    const int rc = MapExisting(path, &screen_, &screenSize_, &st, &error_);
    if (rc != 0) return rc == -1 ? kScreenFileUnopened : kScreenViewFailed;
    screenDevice_ = st.st_dev;
    screenInode_ = st.st_ino;
    ScreenGeometry geometry;
    const int header = ParseScreenHeader(screen_, screenSize_, &geometry);
    if (header != kHeaderOk) {
        error_ = path + ": refused: " + HeaderProblem(header);
        return kScreenHeaderRefused;
    }
    grid_.Build(int(geometry.width), int(geometry.height), geometry.stride,
                int(geometry.bitsPerPixel / 8));
    return kOk;
}

int ZTVL::MapPointerFile() {
    const std::string path = directory_ + "/" + kPointerFileName;
    struct stat st {};
    const int rc = MapExisting(path, &pointer_, &pointerSize_, &st, &error_);
    if (rc != 0) return rc == -1 ? kPointerFileUnopened : kPointerViewFailed;
    if (pointerSize_ < kPointerHeaderSize) {
        error_ = path + ": refused: the file is too short for a header";
        return kPointerFileUnopened;
    }
    return kOk;
}

int ZTVL::MapFiles() {
    if (!attached_) return kNotAttached;
    ReleaseFiles();
    int rc = MapScreenFile();
    if (rc == kOk) rc = MapPointerFile();
    if (rc == kOk) {
        reinterpret_cast<SCREENFILE_HEADER*>(screen_)->signature = kScreenSignature;
        if (!scanner_.Reset(grid_)) {
            error_ = "no memory for the reference copy";
            rc = kReferenceFailed;
        }
    }
    if (rc != kOk) ReleaseFiles();
    return rc;
}

void ZTVL::ReleaseFiles() {
    if (screen_ != nullptr) munmap(screen_, screenSize_);
    if (pointer_ != nullptr) munmap(pointer_, pointerSize_);
    screen_ = pointer_ = nullptr;
    screenSize_ = pointerSize_ = 0;
    screenDevice_ = 0;
    screenInode_ = 0;
    grid_.Clear();
    scanner_.Release();
}

int ZTVL::ReattachAndRemap() {
    if (!attached_) return kNotAttached;
    const int rc = Attach();
    if (rc != kOk) return rc;
    ReleaseFiles();
    return MapFiles();
}

int ZTVL::SetSharing(uint32_t flag) {
    if (!attached_ || screen_ == nullptr) return kFailed;
    auto* header = reinterpret_cast<SCREENFILE_HEADER*>(screen_);
    StoreFlag(header->sharing, flag);
    sharing_ = flag;
    return LoadFlag(header->sharing) == flag ? kOk : kFailed;
}

uint32_t ZTVL::Sharing() {
    if (!attached_ || screen_ == nullptr || !source_.Alive() || NeedsRemap()) return 0;
    return LoadFlag(reinterpret_cast<const SCREENFILE_HEADER*>(screen_)->sharing);
}

bool ZTVL::NeedsRemap() const {
    if (screen_ == nullptr) return false;
    struct stat st {};
    const std::string path = directory_ + "/" + kScreenFileName;
    if (stat(path.c_str(), &st) != 0 || st.st_dev != screenDevice_ || st.st_ino != screenInode_) {
        return true;
    }
    const auto* header = reinterpret_cast<const SCREENFILE_HEADER*>(screen_);
    return header->width.get() != uint32_t(grid_.Width()) ||
           header->height.get() != uint32_t(grid_.Height());
}

const uint8_t* ZTVL::FrameBuffer() const {
    return screen_ == nullptr ? nullptr : screen_ + kScreenHeaderSize;
}

uint32_t ZTVL::Drawn() const {
    if (screen_ == nullptr) return 0;
    return LoadFlag(reinterpret_cast<const SCREENFILE_HEADER*>(screen_)->drawn);
}

int ZTVL::ScanChangedBlocks(int32_t* list, int capacity) {
    if (!attached_ || screen_ == nullptr || sharing_ != 1 || Drawn() == 0) return 0;
    return scanner_.Scan(FrameBuffer(), screenSize_ - kScreenHeaderSize, grid_, list, capacity);
}

int ZTVL::BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list,
                         int capacity) const {
    return grid_.BlocksCovering(minX, minY, maxX, maxY, list, capacity);
}

bool ZTVL::ReadPointerHeader(POINTERFILE_HEADER* out) {
    if (pointer_ == nullptr) return false;
    std::memcpy(out, pointer_, sizeof *out);
    auto* header = reinterpret_cast<POINTERFILE_HEADER*>(pointer_);
    StoreFlag(header->changed, 0);
    StoreFlag(header->shapeChanged, 0);
    return true;
}

int ZTVL::ReadPointerBits(uint8_t* out, size_t n) const {
    if (pointer_ == nullptr || n > pointerSize_ - kPointerHeaderSize) return kFailed;
    std::memcpy(out, pointer_ + kPointerHeaderSize, n);
    return static_cast<int>(n);
}

}  // namespace velmora
