// The receive loop both engines run on their data socket: wait for a datagram
// (blocking in poll for at most the given time rather than sleeping), read it
// into the 1024-byte packet of a PACKETRECEIVED, drop and count every datagram
// that is not exactly 1024 bytes (MSG_TRUNC shows the real length of a longer
// one), pass the packet to ZTSECURITY::CheckPacket, stamp the source and the
// tick, push the entry into the engine's ZTFLATQUEUE (counting drops when it
// is full) and call the optional raw-packet hook. All parsing happens later,
// on the router thread.
//
// One thread runs a receiver; its counters are atomics that any thread reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/tick.h"
#include "platform/ztthread.h"
#include "transport/ztflatqueue.h"

namespace velmora {

struct ReceiveCounters {
    std::atomic<uint32_t> queued{0};     // entries pushed into the queue
    std::atomic<uint32_t> badLength{0};  // datagrams that were not 1024 bytes
    std::atomic<uint32_t> overflows{0};  // packets dropped because the queue was full
    std::atomic<uint32_t> errors{0};     // failed waits and receives
};

class PacketReceiver {
  public:
    enum Result : int32_t {
        kQueued = 1,
        kBadLength = -1,
        kOverflow = -2,
    };

    struct Hooks {
        // Every 1024-byte packet, after it was queued or dropped as overflow.
        std::function<void(const ZTPACKET&)> rawPacket;
        // A receive error (errno); the loop goes on.
        std::function<void(int error)> receiveError;
        // A packet dropped because the queue was full, with the running count.
        std::function<void(uint32_t overflows)> overflow;
    };

    PacketReceiver(int socket, ZTFLATQUEUE& queue, Hooks hooks = {},
                   const Clock& clock = SystemClock::Instance());

    // Waits at most waitMs for the socket to become readable, then handles
    // the datagrams waiting (at most a small batch). Answers how many were
    // read, or -1 when the wait failed.
    int32_t ReceiveOnce(uint32_t waitMs);

    // Runs ReceiveOnce with a 1 ms wait until the thread is asked to stop,
    // between the thread's BeginLoop and EndLoop.
    void RunUntilStopped(ZTTHREAD& thread);

    // Handles one datagram that was read elsewhere (its real length).
    Result HandleDatagram(const uint8_t* data, size_t length, uint32_t addressRaw,
                          uint16_t portRaw);

    const ReceiveCounters& Counters() const { return counters_; }

  private:
    Result QueueEntry(uint32_t addressRaw, uint16_t portRaw);

    int socket_;
    ZTFLATQUEUE& queue_;
    Hooks hooks_;
    const Clock& clock_;
    ReceiveCounters counters_;
    PACKETRECEIVED entry_{};  // the datagram is read straight into it
};

}  // namespace velmora
