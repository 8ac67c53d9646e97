// How a view reaches its server: one connection through the broker, opened
// with ZtifConnect and used with ZtifSend, ZtifPeek and ZtifReceive. Behind
// an interface so the view's logic runs in tests against a scripted server.
//
// One thread (the view's) connects, peeks, receives and disconnects; sends
// may come from other threads, serialised by the caller (the view's lock).
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct ViewLinkTarget {
    std::string brokerName = "ZTVLVIEW_BROKER";
    std::string serverAddress;  // dotted IPv4
    uint16_t serverPort = 8888;
    uint32_t connectionType = 4;  // a viewer session
    int32_t showBroker = 1;       // 1: the broker shows its window
    uint32_t connectTimeoutMs = 15000;
};

class ViewLink {
  public:
    virtual ~ViewLink() = default;

    // nleOk, or the failure's nle* code with a sentence in *why.
    virtual int32_t Connect(const ViewLinkTarget& target, std::string* why) = 0;
    virtual bool Connected() const = 0;
    // The results of ZtifSend, ZtifPeek and ZtifReceive.
    virtual int32_t Send(const void* data, int32_t length, uint8_t noAck, uint32_t timeoutMs) = 0;
    virtual int32_t Peek() = 0;
    virtual int32_t Receive(void* buffer, int32_t size, uint32_t timeoutMs) = 0;
    // Closes the connection (nothing when there is none).
    virtual void Disconnect() = 0;
};

}  // namespace velmora
