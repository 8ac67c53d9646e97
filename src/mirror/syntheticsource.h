// The synthetic screen source: plays a scripted scene into the shared files
// at a fixed frame rate, with no display at all (tests, benchmarks, servers
// without a desktop). Frame n of a scene always looks the same, and the
// screen header's last field holds the number of the frame on screen.
#pragma once

#include <string>

#include <memory>
#include <vector>

#include "mirror/sharefilewriter.h"
#include "mirror/sourcecontrol.h"
#include "mirror/sourceoptions.h"
#include "mirror/syntheticscene.h"

namespace velmora {

class SyntheticSource {
  public:
    SyntheticSource(const SourceOptions& options, ShareFileWriter& writer, SourceControl& control)
        : options_(options), writer_(writer), control_(control) {}

    // Opens the files in `directory`, draws frame 0, reports ready, then
    // draws a frame every 1/rate seconds until stopped. Between frames it
    // sleeps in poll; after the last frame (--frames) it only waits. The
    // answer is the program's exit code (0, or 1 with `error` set).
    int Run(const std::string& directory, std::string* error);

    // The pointer shape it shows: a 12 x 19 white arrow with a black
    // outline, premultiplied ARGB.
    static void ArrowShape(uint32_t* argb, int* width, int* height);

  private:
    bool Begin(int width, int height, uint32_t frame, std::string* error);
    void Step(uint32_t frame);

    const SourceOptions& options_;
    ShareFileWriter& writer_;
    SourceControl& control_;
    std::unique_ptr<SyntheticScene> scene_;
    std::vector<ScreenRect> damage_;
};

}  // namespace velmora
