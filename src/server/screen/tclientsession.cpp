#include "server/screen/tclientsession.h"

#include "server/engine/zthostlist.h"
#include "server/engine/ztserver.h"
#include "server/screen/sessionlink.h"
#include "server/screen/userlist.h"

namespace velmora {
namespace {

// The engine's operations on one peer, as the session uses them.
class EngineLink final : public SessionLink {
  public:
    EngineLink(ZTSERVER& engine, ZTHOSTLIST& host) : engine_(engine), host_(host) {}

    std::string AddressText() override {
        char text[32] = {};
        return engine_.HostAddressText(host_, text, sizeof text);
    }
    int Receive(uint8_t* buffer, size_t capacity, uint32_t waitMs) override {
        const int32_t n = engine_.HostReceive(host_, buffer, uint32_t(capacity), waitMs);
        if (n == ZTSERVER::kMessageTooLong) return kTooLong;
        return n;
    }
    int Send(const uint8_t* data, size_t length, uint32_t waitMs) override {
        const int32_t n = engine_.HostSend(host_, 0, 0, data, uint32_t(length), waitMs);
        // A message the transport cannot carry is dropped like a refused one.
        return n == ZTSERVER::kInvalidMessage ? 0 : n;
    }
    void Disconnect(int32_t reason) override { engine_.HostDisconnect(host_, reason); }

  private:
    ZTSERVER& engine_;
    ZTHOSTLIST& host_;
};

}  // namespace

VelClient::~VelClient() {
    ThreadFinish();
}

void VelClient::Execute() {
    ZTSERVER* engine = Engine();
    ZTHOSTLIST* host = Host();
    if (engine == nullptr || host == nullptr) return;
    EngineLink link(*engine, *host);
    result_ = ViewerSession::Run(link, [this] { return StopRequested(); });
}

void VelClient::ThreadFinish() {
    Services().users->Remove(this);
}

}  // namespace velmora
