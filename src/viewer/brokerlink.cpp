// The view's link through the client-interface library and the broker.
#include <string>

#include "clientif/ztclientif.h"
#include "viewer/brokerlink.h"

namespace velmora {
namespace {

class BrokerLink final : public ViewLink {
  public:
    ~BrokerLink() override { Disconnect(); }

    int32_t Connect(const ViewLinkTarget& target, std::string* why) override {
        Disconnect();
        connection_ =
            ZtifConnect(target.brokerName.c_str(), target.serverAddress.c_str(), target.serverPort,
                        target.connectionType, target.showBroker, target.connectTimeoutMs);
        if (connection_ != nullptr) return nleOk;
        const int32_t code = ZtifLastError();
        if (why != nullptr) {
            *why = ZtifLastErrorText();
            if (why->empty()) *why = ErrorCodeName(code);
        }
        return code != nleOk ? code : nleUnknownError;
    }

    bool Connected() const override { return connection_ != nullptr; }

    int32_t Send(const void* data, int32_t length, uint8_t noAck, uint32_t timeoutMs) override {
        return ZtifSend(connection_, data, length, noAck, timeoutMs);
    }

    int32_t Peek() override { return ZtifPeek(connection_); }

    int32_t Receive(void* buffer, int32_t size, uint32_t timeoutMs) override {
        return ZtifReceive(connection_, buffer, size, timeoutMs);
    }

    void Disconnect() override {
        if (connection_ == nullptr) return;
        (void)ZtifDisconnect(connection_);  // 0 only says the broker was gone already
        connection_ = nullptr;
    }

  private:
    ZTIF_CONNECTION* connection_ = nullptr;
};

}  // namespace

std::unique_ptr<ViewLink> MakeBrokerLink() {
    return std::make_unique<BrokerLink>();
}

}  // namespace velmora
