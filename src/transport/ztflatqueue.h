// The receive queue between an engine's receive thread, which must drain the
// data socket quickly, and its router thread: a ring of fixed-size
// PACKETRECEIVED entries allocated once, so that a datagram costs one copy and
// no allocation. The server uses 10000 entries, the broker 5000.
//
// Lock: lock_ guards the ring, readIndex_, writeIndex_ and count_ changes; it
// is taken alone. count_ is also read without the lock by the consumer's
// empty test (a stale zero only delays an entry to the next look).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/byte_order.h"
#include "platform/ztcritical_section.h"
#include "transport/ztpacket.h"

namespace velmora {

// One entry of the receive queue.
struct PACKETRECEIVED {
    uint8_t sourceAddressBytes[4];  // the sender's IPv4 address, network order
    NetU32 sourceAddress;           // the same as one value, network order
    NetU16 sourcePort;              // network order
    LeU32 receiveTick;              // when the datagram was taken off the socket
    ZTPACKET packet;                // exactly as received
};

static_assert(sizeof(PACKETRECEIVED) == 1038);
static_assert(alignof(PACKETRECEIVED) == 1);
static_assert(offsetof(PACKETRECEIVED, sourceAddressBytes) == 0);
static_assert(offsetof(PACKETRECEIVED, sourceAddress) == 4);
static_assert(offsetof(PACKETRECEIVED, sourcePort) == 8);
static_assert(offsetof(PACKETRECEIVED, receiveTick) == 10);
static_assert(offsetof(PACKETRECEIVED, packet) == 14);

class ZTFLATQUEUE {
  public:
    static constexpr int32_t kFull = -1;
    static constexpr int32_t kNoBuffer = -2;

    // Allocates capacity entries at once; with capacity 0 (or a failed
    // allocation) the queue has no buffer and refuses every Push.
    explicit ZTFLATQUEUE(int32_t capacity);
    ~ZTFLATQUEUE();
    ZTFLATQUEUE(const ZTFLATQUEUE&) = delete;
    ZTFLATQUEUE& operator=(const ZTFLATQUEUE&) = delete;

    // The count after the push, kFull (the new entry is dropped, nothing is
    // overwritten) or kNoBuffer.
    [[nodiscard]] int32_t Push(const PACKETRECEIVED& entry);

    // The count before the pop (1 or more) when the oldest entry was copied
    // into out, 0 when empty, kNoBuffer without a buffer.
    [[nodiscard]] int32_t Pop(PACKETRECEIVED& out);

    // Blocks until the queue holds an entry or waitMs has passed; true when
    // it holds one. Lets a consumer block instead of polling with sleeps.
    bool WaitForEntry(uint32_t waitMs);

    uint32_t Count() const { return count_.load(); }
    int32_t Capacity() const { return capacity_; }
    bool HasBuffer() const { return buffer_ != nullptr; }

  private:
    ZTCRITICAL_SECTION lock_;
    std::unique_ptr<PACKETRECEIVED[]> buffer_;
    uint32_t readIndex_ = 0;
    uint32_t writeIndex_ = 0;
    int32_t capacity_;
    std::atomic<uint32_t> count_{0};

    // Wake-up of a consumer blocked in WaitForEntry; waitMutex_ is a leaf
    // lock taken after lock_ is released.
    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    std::atomic<int> waiters_{0};
};

}  // namespace velmora
