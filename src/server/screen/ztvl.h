// The server's control of the screen source: attach (start the source
// program), map its two shared files, the block grid and the reference copy
// that the change scan needs, reading the pointer, and detach (stop it).
//
// Lifetimes: FrameBuffer(), Grid() and the pointer view stay valid until
// ReleaseFiles (or a remap, which releases first).
//
// Threads: the capture thread calls every operation; the send thread reads
// Grid() and FrameBuffer() while the capture thread guarantees that no
// remap runs meanwhile (it pauses the send thread). No lock inside.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mirror/ztvlshare.h"
#include "server/screen/blockgrid.h"
#include "server/screen/changescanner.h"
#include "server/screen/sourceprocess.h"

namespace velmora {

class ZTVL {
  public:
    // Attach.
    static constexpr int kOk = 1;
    static constexpr int kNotFound = -1;       // no screen source program
    static constexpr int kSourceFailed = -10;  // it did not come up (a failed display change)
    // Map files.
    static constexpr int kNotAttached = -100;
    static constexpr int kScreenFileUnopened = 254;  // screen file not opened or not mapped
    static constexpr int kScreenViewFailed = 253;    // its view failed
    static constexpr int kScreenHeaderRefused =
        252;  // its header claims an image the file cannot hold
    static constexpr int kPointerFileUnopened = 251;
    static constexpr int kPointerViewFailed = 250;
    static constexpr int kReferenceFailed = -4;  // no memory for the reference copy
    // Set sharing, detach.
    static constexpr int kFailed = -1;

    struct Options {
        std::string program = "ZTVL";        // found next to this program, then on PATH
        std::vector<std::string> arguments;  // for the source, e.g. {"--source", "synthetic"}
        std::string directory;               // of the shared files; empty: the runtime directory
        uint32_t readyMs = 10000;            // how long attach waits for the source
        uint32_t stopMs = 3000;              // how long detach waits before it kills
    };

    ZTVL();
    explicit ZTVL(Options options);
    // Releases the files and stops the source.
    ~ZTVL();
    ZTVL(const ZTVL&) = delete;
    ZTVL& operator=(const ZTVL&) = delete;

    // Starts the source (a running one is kept): kOk, kNotFound or kSourceFailed.
    [[nodiscard]] int Attach();
    // Maps both files (releasing earlier ones), builds the grid, writes the
    // signature, makes the reference copy: kOk or one of the map codes.
    [[nodiscard]] int MapFiles();
    void ReleaseFiles();
    // When attached: attach again, release the files and map them again.
    [[nodiscard]] int ReattachAndRemap();
    // When attached and mapped: writes `flag` into the sharing field and
    // remembers it; kOk when the field then reads flag, else kFailed.
    [[nodiscard]] int SetSharing(uint32_t flag);
    // The sharing field; 0 when not attached or mapped, when the source has
    // ended, or when it has replaced the screen file (a mode switch).
    uint32_t Sharing();
    // True when the mapped screen file no longer describes the screen: the
    // source replaced it or rewrote its size. Remapping is then needed.
    bool NeedsRemap() const;
    // Stops the source (SIGTERM, wait, reap): kOk, or kFailed when it had to
    // be killed. The files stay mapped until ReleaseFiles.
    int Detach();

    // The change scan (see ChangeScanner) over the mapped frame buffer; it
    // reports nothing unless attached, sharing was set to 1 and the drawn
    // field is not 0.
    int ScanChangedBlocks(int32_t* list, int capacity);
    // The blocks that a screen rectangle touches (see BlockGrid).
    int BlocksCovering(int minX, int minY, int maxX, int maxY, int32_t* list, int capacity) const;

    // Copies the pointer header, then clears its changed and shapeChanged
    // fields. False when the pointer file is not mapped.
    bool ReadPointerHeader(POINTERFILE_HEADER* out);
    // Copies n bytes from offset 60 of the pointer file: n, or kFailed (and
    // nothing copied) when they are not all inside the file.
    int ReadPointerBits(uint8_t* out, size_t n) const;

    bool Attached() const { return attached_; }
    bool Mapped() const { return screen_ != nullptr && pointer_ != nullptr; }
    int Width() const { return grid_.Width(); }
    int Height() const { return grid_.Height(); }
    int BitsPerPixel() const { return int(kScreenBitsPerPixel); }
    int BytesPerPixel() const { return grid_.BytesPerPixel(); }
    size_t Stride() const { return grid_.Stride(); }
    const BlockGrid& Grid() const { return grid_; }
    const uint8_t* FrameBuffer() const;
    const uint8_t* Reference() const { return scanner_.Reference(); }
    uint32_t Drawn() const;
    pid_t SourcePid() const { return source_.Pid(); }
    const std::string& Directory() const { return directory_; }
    const std::string& LastError() const { return error_; }

  private:
    int MapScreenFile();
    int MapPointerFile();

    Options options_;
    std::string directory_;
    std::string error_;
    SourceProcess source_;
    bool attached_ = false;
    uint32_t sharing_ = 0;

    uint8_t* screen_ = nullptr;
    size_t screenSize_ = 0;
    dev_t screenDevice_ = 0;
    ino_t screenInode_ = 0;
    uint8_t* pointer_ = nullptr;
    size_t pointerSize_ = 0;

    BlockGrid grid_;
    ChangeScanner scanner_;
};

}  // namespace velmora
