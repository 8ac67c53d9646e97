// A small transport endpoint built only from the transport's pieces, for
// tests and benchmarks: two UDP sockets on loopback (data and
// acknowledgements) and the four threads an engine runs for one connection:
//
//   receive thread     PacketReceiver on the data socket -> ZTFLATQUEUE
//   router thread      queue -> ZTPACKET_INLIST of the packet's channel,
//                      answers sent from the acknowledgement socket
//   ack thread         AckReceiver on the acknowledgement socket -> ZTACKS_LIST
//   connection thread  DeliverNext, message rebuilding, FrameSender pass and
//                      acknowledgements, then a wait of at most passWaitMs
//
// Use:
//   TransportPeer a, b;
//   a.Open(); b.Open();
//   a.SetRemote(LoopbackAddressRaw(), b.DataPortRaw(), b.AckPortRaw());  // or relay ports
//   b.SetRemote(LoopbackAddressRaw(), a.DataPortRaw(), a.AckPortRaw());
//   b.SetOnMessage([](uint8_t channel, const uint8_t* data, size_t size) { ... });
//   a.Start(); b.Start();
//   a.Send(kDataChannel, bytes, size);       // queued; blocks while the window is full
//
// Both peers of a pair must use the same connectionKey. Messages arrive
// whole, per channel in order, through the callback (on the connection
// thread) or, without one, in an inbox read with Receive.
//
// Lock: the transport pieces carry their own locks; inboxMutex_ guards the
// inbox and the callback, which runs with it held (a callback may Send, so the
// order is inboxMutex_, then the sender's pending lock; it must not Receive).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/ackreceiver.h"
#include "transport/framesender.h"
#include "transport/messageassembler.h"
#include "transport/packetreceiver.h"
#include "transport/ztflatqueue.h"
#include "transport/ztpacket_completelist.h"
#include "transport/ztpacket_inlist.h"
#include "transport/ztudp.h"

namespace velmora {

struct PeerConfig {
    uint16_t connectionKey = 1;
    SenderParams params = kBrokerSenderParams;
    uint32_t initialRttMs = 90;      // the estimate a connection starts with
    int32_t queueCapacity = 5000;    // receive queue entries
    uint32_t socketBuffer = 230000;  // data receive / ack send buffer, as the broker asks
    uint32_t maxInFlight = 64;       // Send waits while more frames are pending
    uint32_t passWaitMs = 1;         // longest wait of the connection thread between passes
    uint32_t maxMessage = 1 << 20;   // longest message the peer rebuilds
    // The address both sockets bind to and packets carry (network order);
    // 0 for 127.0.0.1. Other 127.x.y.z addresses make several peers on one
    // machine look like several hosts.
    uint32_t addressRaw = 0;
};

struct PeerStats {
    uint64_t messagesDelivered = 0;
    uint64_t assemblyErrors = 0;  // messages that did not add up
    uint64_t passes = 0;
    uint64_t acksSent = 0;
    uint64_t framesSent = 0;  // transmissions from the queue
    uint64_t timeouts = 0;    // frames queued again after a time-out
    uint64_t busy = 0;        // FRAME_BUSY answers received
};

class TransportPeer {
  public:
    using OnMessage = std::function<void(uint8_t channel, const uint8_t* data, size_t size)>;

    explicit TransportPeer(const PeerConfig& config = {});
    ~TransportPeer();
    TransportPeer(const TransportPeer&) = delete;
    TransportPeer& operator=(const TransportPeer&) = delete;

    // Binds both sockets on the configured address (127.0.0.1 by default);
    // false when a socket cannot be made.
    bool Open();
    uint16_t DataPortRaw() const;
    uint16_t AckPortRaw() const;

    // Where data packets and acknowledgements go (network order).
    void SetRemote(uint32_t addressRaw, uint16_t dataPortRaw, uint16_t ackPortRaw);
    // The ackPort written into every packet (network order), where the remote
    // sends its acknowledgements: by default the peer's own acknowledgement
    // port; a relay port puts those acknowledgements through the relay too.
    // Before Start.
    void AdvertiseAckPort(uint16_t ackPortRaw);
    void SetOnMessage(OnMessage callback);

    bool Start();
    void Stop();

    // Queues a message, waiting while maxInFlight frames are pending or the
    // sender refuses it; with waitMs, then waits for the acknowledgement of
    // its last frame like an engine's send-and-wait. Answers the FrameSender
    // result.
    int32_t Send(uint8_t channel, const void* data, uint32_t length, uint32_t waitMs = 0);

    // Takes the oldest message of the inbox (without a callback); false when
    // none came within waitMs.
    bool Receive(std::vector<uint8_t>& message, uint8_t& channel, uint32_t waitMs);

    // While paused the sender transmits nothing (acknowledgements are still
    // applied), as a peer asked to pause by its remote does.
    void SetPaused(bool paused) { sender_.SetPaused(paused); }

    // True once every queued frame was acknowledged.
    bool Drained() const { return sender_.InFlight() == 0; }
    uint32_t InFlight() const { return sender_.InFlight(); }
    uint32_t RoundTripAverage() { return sender_.Average(); }
    PeerStats Stats() const;
    const ReceiveCounters& ReceiveStats() const { return receiver_->Counters(); }
    const AckCounters& AckStats() const { return ackReceiver_->Counters(); }

  private:
    class Worker;
    class Events;
    class Signal;

    void RouterTurn();
    void ConnectionTurn();
    void DeliverReady(uint8_t channel);
    void SendAck(PACKETRETURN answer, uint8_t channel);
    uint32_t OwnAddressRaw() const;

    PeerConfig config_;
    SocketHandle dataSocket_, ackSocket_;
    uint32_t remoteAddressRaw_ = 0;
    std::unique_ptr<UdpSink> dataSink_, ackSink_;

    ZTFLATQUEUE queue_;
    std::unique_ptr<PacketReceiver> receiver_;
    std::unique_ptr<AckReceiver> ackReceiver_;
    ZTPACKET_INLIST inLists_[2];
    ZTPACKET_COMPLETELIST completeLists_[2];
    ZTACKS_LIST ackLists_[2];
    MessageAssembler assemblers_[2];
    std::vector<uint8_t> messages_[2];
    std::unique_ptr<Events> events_;
    FrameSender sender_;
    std::unique_ptr<Signal> wake_;

    mutable std::mutex inboxMutex_;
    std::condition_variable inboxCv_;
    std::deque<std::pair<uint8_t, std::vector<uint8_t>>> inbox_;
    OnMessage onMessage_;

    std::atomic<uint64_t> messagesDelivered_{0}, assemblyErrors_{0}, passes_{0}, acksSent_{0};
    std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace velmora
