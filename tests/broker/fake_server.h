// A stand-in for a server engine's side of one broker connection, built from
// the transport's pieces: a TransportPeer on the broker slot's connection key,
// behind a relay pair on ports R and R + 1 (a broker sends data to port P
// and acknowledgements to P + 1). It acknowledges everything it receives,
// records the control messages, echoes every data message when asked, and
// sends control or data messages of its own.
//
// Lock: mutex_ guards controls_; the peer and the relay lock themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ztthread.h"
#include "support/lossyrelay.h"
#include "support/transportpeer.h"

namespace velmora::test {

class FakeServer {
  public:
    // key: the broker slot this server serves.
    explicit FakeServer(uint16_t key, const Impairment& link = {});
    ~FakeServer();

    // Answers to the broker's sockets (network order ports). False when a
    // socket or the relay cannot be made.
    bool Start(uint16_t brokerDataPortRaw, uint16_t brokerAckPortRaw);
    // Stops answering: nothing is received, acknowledged or sent any more.
    void Silence();

    // The server port P (host order) a broker should be told.
    uint16_t Port() const;

    void SetEcho(bool echo) { echo_.store(echo); }
    // Queues a message to the broker; waitMs > 0 waits for its acknowledgement.
    int32_t Send(uint8_t channel, const void* data, uint32_t length, uint32_t waitMs = 0);

    // Codes of the control messages received so far, in order.
    std::vector<uint8_t> Controls();
    bool SawControl(uint8_t code);
    uint64_t DataMessages() const { return dataMessages_.load(); }
    std::vector<uint8_t> LastData();

  private:
    class Echo;
    void Serve(ZTTHREAD& thread);

    std::unique_ptr<TransportPeer> peer_;
    std::unique_ptr<LossyRelay> relay_;
    Impairment link_;
    uint16_t relayPortRaw_ = 0;
    std::atomic<bool> echo_{false};
    std::atomic<uint64_t> dataMessages_{0};
    std::mutex mutex_;
    std::vector<uint8_t> controls_;
    std::vector<uint8_t> lastData_;
    std::unique_ptr<Echo> echoThread_;
};

}  // namespace velmora::test
