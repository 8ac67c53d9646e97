// A server session's handling of what a viewer sends, on arbitrary bytes:
// the input is one viewer message, classified by its length and acted on
// (mouse, keys, control request) with an injector that checks each call.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "server/app/liveconfig.h"
#include "server/screen/inputinjector.h"
#include "server/screen/tscreencapture.h"
#include "server/screen/userlist.h"
#include "server/screen/viewersession.h"

namespace {

using namespace velmora;

class CheckingInjector : public InputInjector {
  public:
    void MoveTo(int32_t, int32_t) override {}
    void MouseButton(int32_t action) override {
        if (action < kMouseLeftDown || action > kMouseMiddleUp) std::abort();
    }
    void Wheel(int32_t) override {}
    void Key(uint8_t, int32_t) override {
        if (++keys > kMaxKeyEvents) std::abort();  // never more than one message holds
    }
    void SecureAttention() override {}
    int keys = 0;
};

struct World {
    World() {
        CaptureTimings timings;
        timings.controlHandOverMs = 0;
        capture = std::make_unique<TScreentCapture>(ZTVL::Options{}, config, users,
                                                    CaptureEnvironment{}, timings);
        services.users = &users;
        services.capture = capture.get();
        services.injector = &injector;
        services.config = &config;
    }
    LiveConfig config;
    UserList users;
    CheckingInjector injector;
    std::unique_ptr<TScreentCapture> capture;
    SessionServices services;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    world.injector.keys = 0;
    ViewerSession session(world.services);
    world.users.Add(&session);
    session.HandleViewerMessage(data, size);
    world.users.Remove(&session);
    return 0;
}
