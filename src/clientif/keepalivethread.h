// The library's keep-alive thread: every round it clears the application
// silence counter of every connected slot of every broker in the keep-alive
// list (all slots of that broker, whichever application owns them), so the
// broker's application life check never drops a connection while a live
// application of that broker runs. A broker whose instance list has gone (or
// whose broker died) leaves the list. When the list is empty the thread marks
// itself ended and returns; the library starts a new one with the next
// connect.
//
// Lock: the library lock (given at construction) guards `names`; the thread
// holds it for one round at a time. wakeLock_ guards nothing but the sleep
// between rounds and is never held with the library lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ztthread.h"

namespace velmora {

class KeepAliveThread : public ZTTHREAD {
  public:
    // `afterRound` runs after each round, without the library lock.
    KeepAliveThread(std::mutex& libraryLock, std::vector<std::string>& names, uint32_t intervalMs,
                    void (*afterRound)(void*) = nullptr, void* context = nullptr);
    ~KeepAliveThread() override;

    // Starts the loop; false when the thread cannot be created.
    bool Start();
    // Asks the loop to stop, wakes it and waits until it has returned.
    void Stop();
    // True once the loop found the list empty and returned by itself (read
    // under the library lock to decide whether a new thread is needed).
    bool Ended() const { return ended_.load(); }

    // One round, under the library lock. False when the list is empty.
    static bool ClearSilenceCounters(std::vector<std::string>& names);

  private:
    static uint32_t Proc(void* self);
    void Loop();

    std::mutex& libraryLock_;
    std::vector<std::string>& names_;
    const uint32_t intervalMs_;
    void (*afterRound_)(void*);
    void* context_;
    std::atomic<bool> ended_{false};
    std::mutex wakeLock_;
    std::condition_variable wake_;
};

}  // namespace velmora
