// The broker's side of the wire for one connection to a server engine, for
// tests and benchmarks, built from the transport pieces (a TransportPeer):
// packets go to the server's port P, acknowledgements to P + 1, every packet
// carries the peer's ackPort and 127.0.0.1 as senderAddress, and the channel-1
// control messages are built and read with the transport's control-message
// records.
//
// Use:
//   BrokerPeer peer(/*connectionKey=*/3);
//   peer.Open();
//   peer.SetServer(LoopbackAddressRaw(), engine.ReceivePortRaw(), engine.SendPortRaw());
//   peer.Start();
//   peer.Connect(ctViewerSession, 2000);   // ccConnect, acknowledged
//   peer.Send(bytes, size);                // channel 0
//   peer.Receive(message, 1000);           // channel 0 from the server
//   peer.WaitControl(ccDisconnect, &m, 1000);
//
// Like the broker it stops transmitting while the server asks it to pause
// (ccFlow); it sends no pause of its own.
//
// Lock: mutex_ guards the data inbox, the control log and the data callback;
// the transport's connection thread calls in with it free.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "support/transportpeer.h"
#include "transport/controlmessages.h"

namespace velmora {

class BrokerPeer {
  public:
    using OnData = std::function<void(const uint8_t* data, size_t size)>;

    explicit BrokerPeer(uint16_t connectionKey, PeerConfig config = {});
    ~BrokerPeer();
    BrokerPeer(const BrokerPeer&) = delete;
    BrokerPeer& operator=(const BrokerPeer&) = delete;

    bool Open();
    uint16_t DataPortRaw() const { return peer_.DataPortRaw(); }
    uint16_t AckPortRaw() const { return peer_.AckPortRaw(); }
    // The server's data port P and acknowledgement port P + 1 (or relay
    // ports standing for them), network order.
    void SetServer(uint32_t addressRaw, uint16_t dataPortRaw, uint16_t ackPortRaw);
    void AdvertiseAckPort(uint16_t ackPortRaw) { peer_.AdvertiseAckPort(ackPortRaw); }
    // Channel-0 messages go to the callback (on the connection thread)
    // instead of the inbox. Before Start.
    void SetOnData(OnData callback);
    bool Start();
    void Stop();

    // Sends ccConnect with a peerId made from the key and waits for its
    // acknowledgement: the FrameSender result (the length once acknowledged).
    int32_t Connect(int32_t connectionType, uint32_t waitMs);
    // Any channel-1 message, queued (waitMs 0) or waited for.
    int32_t SendControl(const void* data, uint32_t length, uint32_t waitMs = 0);
    // A channel-0 message.
    int32_t Send(const void* data, uint32_t length, uint32_t waitMs = 0);

    // The oldest channel-0 message not yet taken; false when none came.
    bool Receive(std::vector<uint8_t>& message, uint32_t waitMs);
    // The first control message with this code not yet taken; false when
    // none came within waitMs.
    bool WaitControl(uint8_t code, std::vector<uint8_t>* message, uint32_t waitMs);
    // Control messages with this code received so far (taken or not).
    size_t ControlCount(uint8_t code) const;

    TransportPeer& Transport() { return peer_; }
    const uint8_t* PeerId() const { return peerId_; }

  private:
    struct Control {
        std::vector<uint8_t> bytes;
        bool taken = false;
    };

    void Take(uint8_t channel, const uint8_t* data, size_t size);

    TransportPeer peer_;
    uint8_t peerId_[kPeerIdSize] = {};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::vector<uint8_t>> inbox_;
    std::vector<Control> controls_;
    OnData onData_;
};

}  // namespace velmora
