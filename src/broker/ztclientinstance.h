// One connection of the broker to a server: a thread that drives the
// transport for it (hands complete frames on in order and acknowledges them,
// handles the server's control messages, delivers data to the application,
// takes the application's messages, sends, resends and applies
// acknowledgements), together with what the connection owns: its pending
// frames, its two queue mappings and their named locks.
//
// The turn loop runs under the access-violation guard: a fault inside (a
// queue mapping that another process shrank, say) is logged with its code
// name, ends this thread only, and closes the connection.
//
// Between turns the thread blocks: at most activePassMs while there is
// traffic, quietPassMs once the connection has been quiet for quietAfterMs
// (the application's send queue lives in another process and is looked at
// only then), idleWaitMs while the slot merely keeps the object. The router
// and the acknowledgement listener wake it at once.
//
// Lock: wakeMutex_ guards woken_ and is a leaf. Everything else is used by
// the connection thread, except the sender (its own lock), the statistics
// (atomics) and hooks_ (atomic pointer).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "broker/connectionhooks.h"
#include "broker/messagetaker.h"
#include "clientif/sharedqueue.h"
#include "clientif/ztinstance_slot.h"
#include "platform/ztmutex.h"
#include "platform/ztshared_memory.h"
#include "platform/ztthread.h"
#include "transport/framesender.h"

namespace velmora {

class ZTCLIENT;

class ZTCLIENTINSTANCE : public ZTTHREAD {
  public:
    // Results of CreateQueues: which object could not be made.
    enum CreateResult : int32_t {
        kCreated = 0,
        kReceiveQueueFailed,
        kSendQueueFailed,
        kReceiveLockFailed,
        kSendLockFailed,
    };

    ZTCLIENTINSTANCE(ZTCLIENT& engine, int32_t slotIndex);
    // Stops the thread.
    ~ZTCLIENTINSTANCE() override;

    // Creates the receive and send queues of the slot and their locks, with
    // fresh headers. On failure the objects made so far are kept; the caller
    // destroys the connection.
    [[nodiscard]] CreateResult CreateQueues(const char* name);
    // Writes fresh queue headers (a kept connection that is set up again).
    void InitialiseQueues();
    // Prepares the sending side for a new connection: origin, counters at
    // 0xFFFF, no pending frames, estimate filled with rttMs.
    void Prepare(uint32_t ownAddressRaw, uint32_t rttMs);
    // Empties everything of the last connection but keeps it allocated.
    void Clear();

    // Stops the thread (5 ms looks) and drops the pending frames.
    void Stop();
    void Wake();

    // True while the slot keeps this object without a connection.
    bool IsIdle() const { return idle_.load(); }
    void SetHooks(ConnectionHooks* hooks) { hooks_.store(hooks); }

    ZTCLIENT& Engine() { return engine_; }
    int32_t SlotIndex() const { return index_; }
    ZTINSTANCE_SLOT& Slot();
    FrameSender& Sender() { return sender_; }
    ReceiveQueue& Receives() { return receiveQueue_; }
    SendQueue& Sends() { return sendQueue_; }
    MessageTaker& Taker() { return taker_; }
    uint32_t OwnAddressRaw() const { return ownAddressRaw_.load(); }

    // Statistics (Part of what the broker window shows).
    void CountReceiveBusy() { receiveBusy_.fetch_add(1); }
    uint32_t ReceiveRate() const { return receiveRate_.load(); }
    uint32_t SendRate() const { return sendRate_.load(); }
    uint32_t FramesWaiting() const { return framesWaiting_.load(); }
    uint32_t PacketsWaiting() const { return packetsWaiting_.load(); }
    uint32_t ReceiveBusy() const { return receiveBusy_.load(); }
    uint64_t BytesReceived() const { return bytesReceived_.load(); }
    uint64_t BytesSent() const { return bytesSent_.load(); }
    bool PauseSent() const { return pauseSent_; }

  private:
    class Sink;
    class Events;

    static uint32_t Proc(void* self);
    static void GuardedLoop(void* self);
    void Loop();
    // One turn; true when it found work (traffic keeps the short waits).
    bool Turn(uint32_t now);
    bool HandOnFrames(uint8_t channel);
    void HandleControl(const ZTPACKET& packet);
    void FlowControl();
    void UpdateRates(uint32_t now);
    bool Deliver(ConnectionHooks* hooks);
    void WaitForWork(uint32_t ms);
    void CloseAfterFault(uint32_t code);

    ZTCLIENT& engine_;
    const int32_t index_;
    std::unique_ptr<Events> events_;
    std::unique_ptr<Sink> sink_;
    FrameSender sender_;
    MessageTaker taker_;
    std::atomic<ConnectionHooks*> hooks_{nullptr};
    std::atomic<uint32_t> ownAddressRaw_{0};

    ZTMUTEX receiveLock_, sendLock_;  // "%sRM%d", "%sSM%d"
    std::unique_ptr<ZTSHARED_MEMORY> receiveMemory_, sendMemory_;
    ReceiveQueue receiveQueue_;
    SendQueue sendQueue_;

    // The packet being handled. A member, not a local: a fault leaves the
    // loop by a long jump that skips local destructors.
    std::unique_ptr<ZTPACKET> current_;

    std::atomic<bool> idle_{false};
    bool pauseSent_ = false;
    uint32_t lastWork_ = 0;

    std::atomic<uint32_t> receiveRate_{0}, sendRate_{0}, framesWaiting_{0}, packetsWaiting_{0};
    std::atomic<uint32_t> receiveBusy_{0};
    std::atomic<uint64_t> bytesReceived_{0}, bytesSent_{0};
    uint32_t receiveSecondStart_ = 0, receiveSecondBytes_ = 0;
    uint32_t sendSecondStart_ = 0;
    std::atomic<uint32_t> sendSecondBytes_{0};

    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
};

}  // namespace velmora
