// The queue of window events shared by every process that has the hook
// library: a ring of 2000 HOOKEVENT records in POSIX shared memory.
//
// Lock: the named mutex (ZTMUTEX "ZTHOOK") guards the ring fields of the
// shared block (count, records, readIndex, writeIndex); it is taken alone
// and held only while one record is copied. Each side waits at most 100 ms:
// a writer that cannot get it drops the record, a reader reports nothing.
//
// There is no full test: a reader 2000 records behind loses them, because
// the write index catches up with the read index and the ring then reads as
// empty.
#pragma once

#include <memory>
#include <string>

#include "hook/hookevent.h"
#include "platform/ztmutex.h"
#include "platform/ztshared_memory.h"

namespace velmora {

class HookQueue {
  public:
    static constexpr uint32_t kWaitMs = 100;

    // Creates or opens the mutex and the shared block of these names.
    HookQueue(const char* mutexName, const char* memoryName);

    bool IsOpen() const { return shared_ != nullptr; }
    const std::string& LastError() const { return error_; }
    // The shared block, for the fields outside the ring; nullptr when not open.
    HOOKSHARED* Shared() const { return shared_; }

    // Queues a copy of the record: false when it was dropped (no queue, or
    // the mutex was not had within 100 ms).
    bool Put(const HOOKEVENT& record);
    // Takes the oldest record: false, leaving `out` untouched, when the
    // queue is empty or the mutex was not had.
    bool Get(HOOKEVENT* out);
    // Records Get would deliver.
    int32_t Count() const;
    // Empties the ring (both indexes and the count to 0).
    void Clear();

  private:
    // Brings indexes that another process left out of range back to an
    // empty ring, so no copy ever leaves the ring. Under the mutex.
    void CheckIndexes();

    ZTMUTEX mutex_;
    std::unique_ptr<ZTSHARED_MEMORY> memory_;
    HOOKSHARED* shared_ = nullptr;
    std::string error_;
};

}  // namespace velmora
