// A broker's hold on its name, and the one definition of a broker that died.
//
// A broker holds an exclusive flock on "<runtime dir>/<N>.lock" for its whole
// life (Acquire) and creates its instance list only once it holds it. So an
// instance list whose lock nobody holds was left by a broker that died (a
// killed broker never removes its shared memory): it is stale. Every removal
// of a stale list happens under the same exclusive lock, so it can never
// remove the list of a broker that is starting or running.
//
// Probes take a shared lock for a moment; a broker starting at that very
// moment retries its exclusive lock for a short while (kAcquireWaitMs)
// rather than give up. The lock file is never removed: a client holding it
// open must keep meeting the same file as the next broker.
//
// Lock: none inside; one object is used by one thread (the broker's start and
// shut-down).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "clientif/ztinstance_slot.h"
#include "platform/ztshared_memory.h"

namespace velmora {

class BrokerLock {
  public:
    static constexpr uint32_t kAcquireWaitMs = 500;

    // Results of Acquire.
    static constexpr int32_t kAcquired = 1;
    static constexpr int32_t kBadName = -1;        // see CheckBrokerName
    static constexpr int32_t kNoLockFile = -2;     // runtime directory or lock file unusable
    static constexpr int32_t kHeldByAnother = -3;  // a live broker of this name exists
    static constexpr int32_t kListFailed = -4;     // the instance list cannot be created

    BrokerLock() = default;
    ~BrokerLock() { Release(); }
    BrokerLock(const BrokerLock&) = delete;
    BrokerLock& operator=(const BrokerLock&) = delete;

    // Takes the lifetime lock of `brokerName` (waiting at most waitMs for a
    // probe to let go), removes what a dead broker of this name left, and
    // creates the instance list with every slot free (nsNotUse, error
    // nleInvalidConnect), holding the instance-list lock "%sSHARE" meanwhile
    // so that no application claims a slot of a list not yet made.
    // kHeldByAnother leaves everything of the live broker untouched.
    // LastError() says why anything else failed.
    [[nodiscard]] int32_t Acquire(const char* brokerName, uint32_t waitMs = kAcquireWaitMs);

    // Removes the instance list, then lets the lock go (in that order, so a
    // list is never seen without its broker's lock while the broker lives).
    void Release();

    bool IsHeld() const { return lockFd_ >= 0; }
    uint8_t* List() const { return list_ ? list_->View() : nullptr; }
    ZTINSTANCE_SLOT& Slot(int32_t index) const { return SlotAt(List(), index); }
    const std::string& LastError() const { return error_; }

    // Whether a live broker holds the lock file `lockPath`. When that cannot
    // be told (an error other than "no such file"), the answer is true: what
    // might be in use is never treated as stale.
    static bool IsBrokerAlive(const std::string& lockPath);

    // The lock file of `brokerName` in the runtime directory; empty when the
    // directory is unusable (`why` says why).
    static std::string LockPath(std::string_view brokerName, std::string* why = nullptr);

    // If no broker of this name is alive, removes its instance list and every
    // queue it may have left and answers true; answers false when a broker
    // holds the lock (or it cannot be taken within waitMs).
    static bool RemoveIfStale(std::string_view brokerName, uint32_t waitMs = kAcquireWaitMs);

    // Unlinks the instance list and the 1000 queue objects of a name. Only
    // for a holder of the name's lock, or for tests cleaning up.
    static void RemoveSharedObjects(std::string_view brokerName);

  private:
    int lockFd_ = -1;
    std::unique_ptr<ZTSHARED_MEMORY> list_;
    std::string error_;
};

}  // namespace velmora
