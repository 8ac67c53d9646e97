// The ring-queue operations of one shared queue, the same code on both sides:
// the application puts into its send queue and takes from its receive queue,
// the broker does the opposite.
//
// The header lives in memory another process writes, so nothing in it is
// trusted: every operation reads capacity, head, tail and count once, checks
// that they describe records inside this mapping (and, under the lock, that
// they agree with each other) and answers kQueueDamaged otherwise, without
// touching a byte outside the mapping. A damaged queue ends its connection.
//
// Lock: Put and Take hold the queue's named mutex (when one is given) around
// the copy and the header update; Count and PeekHead read without it, as the
// waits for room and data do. Each queue has one writer and one reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "clientif/ztshared_queue.h"
#include "platform/ztmutex.h"

namespace velmora {

inline constexpr int32_t kQueueDone = 1;      // the record was put or taken
inline constexpr int32_t kQueueNone = 0;      // full (put) or empty (take, peek)
inline constexpr int32_t kQueueDamaged = -1;  // the header cannot be right

namespace queue_detail {

struct Ring {
    uint8_t* view;
    size_t mappedSize;
    size_t recordSize;
    ZTMUTEX* lock;
};

void Initialise(const Ring& ring);
int32_t Count(const Ring& ring);
int32_t Capacity(const Ring& ring);
int32_t Put(const Ring& ring, const void* record);
int32_t Take(const Ring& ring, void* record);
int32_t PeekHead(const Ring& ring, void* record);

}  // namespace queue_detail

template <typename Record>
class SharedQueue {
    static_assert(std::is_trivially_copyable_v<Record> && alignof(Record) == 1);

  public:
    SharedQueue() = default;
    // `view` maps `mappedSize` bytes of the queue object; `lock` is the
    // queue's named mutex (may be null where the caller serialises).
    SharedQueue(uint8_t* view, size_t mappedSize, ZTMUTEX* lock)
        : ring_{view, mappedSize, sizeof(Record), lock} {}

    bool IsMapped() const { return ring_.view != nullptr; }

    // The broker's fresh header at every set-up: capacity 500 (fewer if the
    // mapping cannot hold them), head, tail and count 0.
    void Initialise() { queue_detail::Initialise(ring_); }

    // Records waiting, or kQueueDamaged.
    [[nodiscard]] int32_t Count() const { return queue_detail::Count(ring_); }
    // The capacity field, or kQueueDamaged.
    [[nodiscard]] int32_t Capacity() const { return queue_detail::Capacity(ring_); }
    // kQueueDone, kQueueNone when full, or kQueueDamaged.
    [[nodiscard]] int32_t Put(const Record& record) { return queue_detail::Put(ring_, &record); }
    // kQueueDone with the head record copied out, kQueueNone when empty, or
    // kQueueDamaged.
    [[nodiscard]] int32_t Take(Record& record) { return queue_detail::Take(ring_, &record); }
    // Like Take, but the record stays; reads without the lock (the reader
    // alone moves the head).
    [[nodiscard]] int32_t PeekHead(Record& record) const {
        return queue_detail::PeekHead(ring_, &record);
    }

  private:
    queue_detail::Ring ring_{nullptr, 0, sizeof(Record), nullptr};
};

using ReceiveQueue = SharedQueue<ZTRECV_RECORD>;
using SendQueue = SharedQueue<ZTSEND_RECORD>;

}  // namespace velmora
