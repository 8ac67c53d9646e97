// The common body of both engines' acknowledgement receivers: read 28-byte
// PACKETRETURN datagrams off the acknowledgement socket and append each to the
// ZTACKS_LIST its connection and channel have. Which list that is the engine
// decides through the lookup callback (the server by senderAddress and
// connectionKey, the broker by slot); a record the lookup does not place is
// dropped.
//
// A datagram of any other length is counted and dropped (MSG_TRUNC shows the
// real length of a longer one); neither it nor an unknown record ends the
// loop. A failed wait or receive does, as the engines expect.
//
// One thread runs a receiver; its counters are atomics that any thread reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/ztthread.h"
#include "transport/ztacks_list.h"

namespace velmora {

struct AckCounters {
    std::atomic<uint32_t> added{0};      // records appended to a list
    std::atomic<uint32_t> badLength{0};  // datagrams that were not 28 bytes
    std::atomic<uint32_t> unknown{0};    // records the lookup placed nowhere
    std::atomic<uint32_t> dropped{0};    // records refused by a full list
};

class AckReceiver {
  public:
    enum Result : int32_t {
        kAdded = 1,
        kUnknown = 0,
        kBadLength = -1,
        kListFull = -2,
    };
    static constexpr int32_t kFatal = -1;  // from ReceiveOnce: the loop must end

    using Lookup = std::function<ZTACKS_LIST*(const PACKETRETURN& record)>;

    // onAdded, when set, runs after each record was appended (to wake the
    // connection's thread, for example).
    AckReceiver(int socket, Lookup lookup, std::function<void()> onAdded = {});

    // Waits at most waitMs for the socket, then reads the datagrams waiting
    // (a small batch). Answers how many were read, or kFatal.
    int32_t ReceiveOnce(uint32_t waitMs);

    // Runs ReceiveOnce with a 1 ms wait between the thread's BeginLoop and
    // EndLoop, until a stop request or a fatal socket error.
    void RunUntilStopped(ZTTHREAD& thread);

    // Handles one datagram that was read elsewhere (its real length).
    Result HandleDatagram(const uint8_t* data, size_t length);

    const AckCounters& Counters() const { return counters_; }

  private:
    int socket_;
    Lookup lookup_;
    std::function<void()> onAdded_;
    AckCounters counters_;
};

}  // namespace velmora
