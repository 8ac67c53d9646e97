// Acknowledgements received for one channel of one connection, collected by
// the acknowledgement receiver thread and applied by the connection's thread:
// a FIFO of PACKETRETURN copies.
//
// Note: records are held by value in a deque rather than one allocation per
// record; the list is bounded (kLimit) so that a flood of acknowledgements
// that the connection's thread cannot keep up with drops records instead of
// growing without end. A dropped acknowledgement costs a retransmission.
//
// Lock: lock_ guards records_; it comes after the sender's pending lock and is
// a leaf otherwise. count_ is readable without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>

#include "platform/ztcritical_section.h"
#include "transport/ztpacket.h"

namespace velmora {

class ZTACKS_LIST {
  public:
    static constexpr int32_t kLimit = 65536;

    ZTACKS_LIST() = default;
    ZTACKS_LIST(const ZTACKS_LIST&) = delete;
    ZTACKS_LIST& operator=(const ZTACKS_LIST&) = delete;

    // Appends a copy; the count after, or -1 when the list is at kLimit.
    int32_t Add(const PACKETRETURN& record);
    // The oldest record, removed; nothing when empty (tested without the lock).
    std::optional<PACKETRETURN> Get();
    void Clear();

    int32_t Count() const { return count_.load(); }

  private:
    ZTCRITICAL_SECTION lock_;
    std::deque<PACKETRETURN> records_;
    std::atomic<int32_t> count_{0};
};

}  // namespace velmora
