#include "mirror/syntheticsource.h"

#include <algorithm>
#include <chrono>

namespace velmora {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kArrowWidth = 12;
constexpr int kArrowHeight = 19;

}  // namespace

void SyntheticSource::ArrowShape(uint32_t* argb, int* width, int* height) {
    for (int y = 0; y < kArrowHeight; ++y) {
        for (int x = 0; x < kArrowWidth; ++x) {
            // A wedge whose right edge runs down at 45 degrees until row 11,
            // then the tail; the outline is its border.
            const bool inside = x <= y && (y < 12 ? true : x <= 23 - y);
            const bool border =
                inside && (x == 0 || x == y || (y >= 12 && x == 23 - y) || y == kArrowHeight - 1);
            argb[y * kArrowWidth + x] = !inside ? 0u : border ? 0xFF000000u : 0xFFFFFFFFu;
        }
    }
    *width = kArrowWidth;
    *height = kArrowHeight;
}

bool SyntheticSource::Begin(int width, int height, uint32_t frame, std::string* error) {
    scene_ = SyntheticScene::Make(options_.scene, width, height);
    if (scene_ == nullptr) {
        *error = "unknown scene: " + options_.scene;
        return false;
    }
    scene_->Draw(frame, scene_->Bounds(), writer_.Canvas());
    uint32_t arrow[kArrowWidth * kArrowHeight];
    int w = 0;
    int h = 0;
    ArrowShape(arrow, &w, &h);
    int x = 0;
    int y = 0;
    scene_->PointerAt(frame, &x, &y);
    writer_.SetPointerShape(arrow, w, h, 0, 0, x, y);
    writer_.SetFrameCounter(frame);
    writer_.MarkDrawn();
    return true;
}

void SyntheticSource::Step(uint32_t frame) {
    damage_.clear();
    scene_->Damage(frame, damage_);
    const FrameCanvas canvas = writer_.Canvas();
    for (const ScreenRect& r : damage_) scene_->Draw(frame, r, canvas);
    int x = 0;
    int y = 0;
    scene_->PointerAt(frame, &x, &y);
    writer_.MovePointer(x, y);
    writer_.SetFrameCounter(frame);
    writer_.MarkDrawn();
}

int SyntheticSource::Run(const std::string& directory, std::string* error) {
    const int rc = writer_.Open(directory, options_.width, options_.height);
    if (rc != ShareFileWriter::kOk) {
        *error = writer_.LastError();
        return 1;
    }
    uint32_t frame = 0;
    if (!Begin(options_.width, options_.height, frame, error)) return 1;
    control_.ReportReady();

    const auto period = std::chrono::microseconds(1000000 / options_.rate);
    auto next = SteadyClock::now() + period;
    while (!control_.Stopped()) {
        if (options_.frames >= 0 && frame >= options_.frames) {
            control_.Wait(-1, -1);  // the script is over: idle until stopped
            continue;
        }
        const auto now = SteadyClock::now();
        if (now < next) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            control_.Wait(-1, static_cast<int>(ms));
            continue;
        }
        ++frame;
        if (options_.switchFrame >= 0 && frame == options_.switchFrame) {
            if (writer_.SwitchMode(options_.switchWidth, options_.switchHeight) !=
                ShareFileWriter::kOk) {
                *error = writer_.LastError();
                return 1;
            }
            if (!Begin(options_.switchWidth, options_.switchHeight, frame, error)) return 1;
        } else {
            Step(frame);
        }
        // A source that fell behind (a busy machine) slows down rather than
        // drawing a burst of frames to catch up.
        next = std::max(next + period, SteadyClock::now());
    }
    return 0;
}

}  // namespace velmora
