#include "clientif/sharedqueue.h"

#include <cstring>

#include "clientif/shared_field.h"

namespace velmora::queue_detail {
namespace {

ZTSHARED_QUEUE& Header(const Ring& ring) {
    return *reinterpret_cast<ZTSHARED_QUEUE*>(ring.view);
}

// The records a mapping of this size can hold.
size_t Room(const Ring& ring) {
    if (ring.view == nullptr || ring.mappedSize < kQueueHeaderSize || ring.recordSize == 0)
        return 0;
    return (ring.mappedSize - kQueueHeaderSize) / ring.recordSize;
}

struct Snapshot {
    uint32_t capacity;
    uint32_t head;
    uint32_t tail;
    uint32_t count;
};

// Reads the header once and checks every field against the mapping. With
// `locked`, the fields must also agree with each other, which holds whenever
// both sides update them under the lock; a reader without the lock may see
// a tail that moved before the count did, so it checks bounds only.
bool Load(const Ring& ring, bool locked, Snapshot* out) {
    const size_t room = Room(ring);
    if (room == 0) return false;
    const ZTSHARED_QUEUE& header = Header(ring);
    Snapshot s{LoadShared(header.capacity), LoadShared(header.head), LoadShared(header.tail),
               LoadShared(header.count)};
    if (s.capacity == 0 || s.capacity > room) return false;
    if (s.head >= s.capacity || s.tail >= s.capacity || s.count > s.capacity) return false;
    if (locked && (s.head + s.count) % s.capacity != s.tail) return false;
    *out = s;
    return true;
}

uint8_t* RecordAt(const Ring& ring, uint32_t index) {
    return ring.view + kQueueHeaderSize + static_cast<size_t>(index) * ring.recordSize;
}

// Holds the queue's named mutex, when there is one, for one operation.
class RingLock {
  public:
    explicit RingLock(ZTMUTEX* lock) : lock_(lock) {
        if (lock_ != nullptr) lock_->Lock();
    }
    ~RingLock() {
        if (lock_ != nullptr) lock_->Unlock();
    }
    RingLock(const RingLock&) = delete;
    RingLock& operator=(const RingLock&) = delete;

  private:
    ZTMUTEX* lock_;
};

uint16_t Next(uint32_t index, uint32_t capacity) {
    return static_cast<uint16_t>(index + 1 == capacity ? 0 : index + 1);
}

}  // namespace

void Initialise(const Ring& ring) {
    const size_t room = Room(ring);
    if (room == 0) return;
    ZTSHARED_QUEUE& header = Header(ring);
    StoreShared(header.count, 0);
    StoreShared(header.head, 0);
    StoreShared(header.tail, 0);
    StoreShared(header.capacity,
                static_cast<uint16_t>(room < kQueueCapacity ? room : kQueueCapacity));
}

int32_t Count(const Ring& ring) {
    Snapshot s{};
    return Load(ring, false, &s) ? static_cast<int32_t>(s.count) : kQueueDamaged;
}

int32_t Capacity(const Ring& ring) {
    Snapshot s{};
    return Load(ring, false, &s) ? static_cast<int32_t>(s.capacity) : kQueueDamaged;
}

int32_t Put(const Ring& ring, const void* record) {
    RingLock guard(ring.lock);
    Snapshot s{};
    if (!Load(ring, true, &s)) return kQueueDamaged;
    if (s.count >= s.capacity) return kQueueNone;
    std::memcpy(RecordAt(ring, s.tail), record, ring.recordSize);
    ZTSHARED_QUEUE& header = Header(ring);
    StoreShared(header.tail, Next(s.tail, s.capacity));
    // Last, with release order: a reader that sees the count sees the record.
    StoreShared(header.count, static_cast<uint16_t>(s.count + 1));
    return kQueueDone;
}

int32_t Take(const Ring& ring, void* record) {
    RingLock guard(ring.lock);
    Snapshot s{};
    if (!Load(ring, true, &s)) return kQueueDamaged;
    if (s.count == 0) return kQueueNone;
    std::memcpy(record, RecordAt(ring, s.head), ring.recordSize);
    ZTSHARED_QUEUE& header = Header(ring);
    StoreShared(header.head, Next(s.head, s.capacity));
    StoreShared(header.count, static_cast<uint16_t>(s.count - 1));
    return kQueueDone;
}

int32_t PeekHead(const Ring& ring, void* record) {
    Snapshot s{};
    if (!Load(ring, false, &s)) return kQueueDamaged;
    if (s.count == 0) return kQueueNone;
    std::memcpy(record, RecordAt(ring, s.head), ring.recordSize);
    return kQueueDone;
}

}  // namespace velmora::queue_detail
