// The screen source's side of the two shared files: creates them in the
// runtime directory, writes their headers, exposes the screen image as a
// canvas and writes the pointer's shape and position.
//
// A reader (the server) may hold either file mapped at any time, so a file is
// never shortened under it: a file of exactly the needed size is reused in
// place (a restarted source keeps feeding the server's mapping), and any
// other is replaced by a new file renamed over the name, which leaves the old
// file alive for whoever still maps it.
//
// Not thread-safe: one source loop owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mirror/framecanvas.h"
#include "mirror/ztvlshare.h"

namespace velmora {

class ShareFileWriter {
  public:
    static constexpr int kOk = 1;
    static constexpr int kBadSize = -1;            // width or height outside 1..kMaxScreenSide
    static constexpr int kScreenFileFailed = -2;   // "MapFile Create Fail"
    static constexpr int kPointerFileFailed = -3;  // "Pointer MapFile Create Fail"

    // Pointer shapes wider or taller than this are cropped: the pointer
    // record sent to viewers counts the colour bitmap's bytes in 16 bits.
    static constexpr int kMaxPointerSide = 64;

    ShareFileWriter() = default;
    ~ShareFileWriter();
    ShareFileWriter(const ShareFileWriter&) = delete;
    ShareFileWriter& operator=(const ShareFileWriter&) = delete;

    // Maps both files in `directory` for a width x height screen and writes
    // fresh headers (sharing 0, drawn 0; the pointer header all zeros).
    [[nodiscard]] int Open(const std::string& directory, int width, int height);
    // A mode switch: sharing 0 in the current screen header, then the screen
    // file of the new size with a fresh header, as Open.
    [[nodiscard]] int SwitchMode(int width, int height);
    // Sets sharing 0 (the surface goes away) and unmaps both files; the
    // files stay.
    void Close();

    bool IsOpen() const { return screen_ != nullptr && pointer_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    FrameCanvas Canvas() const;
    SCREENFILE_HEADER* ScreenHeader() const {
        return reinterpret_cast<SCREENFILE_HEADER*>(screen_);
    }
    POINTERFILE_HEADER* PointerHeader() const {
        return reinterpret_cast<POINTERFILE_HEADER*>(pointer_);
    }
    const std::string& ScreenPath() const { return screenPath_; }
    const std::string& LastError() const { return error_; }

    void MarkDrawn();
    void SetFrameCounter(uint32_t frame);

    // Writes a colour pointer from premultiplied ARGB pixels (0xAARRGGBB,
    // top-down rows of `width`): a 32-bit bitmap (format 6, bytes blue,
    // green, red, alpha, not premultiplied) padded to a width that is a
    // multiple of 32, then a 1-bit mask of the same width and twice the
    // height (AND rows, 1 where the pixel is mostly transparent, then zero
    // XOR rows), both top-down. (x, y) is the hot spot's screen position.
    void SetPointerShape(const uint32_t* argb, int width, int height, int xHot, int yHot, int x,
                         int y);
    // Writes the position and sets changed when it differs from the last one.
    void MovePointer(int x, int y);

  private:
    int OpenScreen(int width, int height);
    void CloseScreen();

    std::string directory_;
    std::string screenPath_;
    std::string error_;
    uint8_t* screen_ = nullptr;
    size_t screenSize_ = 0;
    uint8_t* pointer_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace velmora
