// A viewer session as the capture and send threads see it: its name, whether
// it is active (logged on; only active sessions get broadcasts), whether it
// holds the control right, and its outgoing queue of at most 20 messages.
//
// The queue keeps a ring of message buffers whose capacity is reused, so a
// steady stream of messages costs one copy per message and no allocation; a
// viewer that stops reading costs at most its 20 queued messages.
//
// Lock: lock_ guards the queue and the name; it comes after the user list's
// lock in the lock order and nothing is taken while it is held.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class ScreenSession {
  public:
    static constexpr int kQueueLimit = 20;
    // The longest name kept: a dotted IPv4 address fits with room to spare,
    // and MEMBER_LIST carries at most 29 characters.
    static constexpr size_t kNameLimit = 29;

    ScreenSession() = default;
    virtual ~ScreenSession() = default;
    ScreenSession(const ScreenSession&) = delete;
    ScreenSession& operator=(const ScreenSession&) = delete;

    // Appends a copy of the message; when the queue then holds more than
    // kQueueLimit messages, the oldest is dropped. False when no memory could
    // be had for the copy (the message is then dropped).
    bool QueueMessage(const uint8_t* data, size_t length);
    // Moves the oldest message into `out` (whose old buffer the queue keeps
    // for reuse); false when the queue is empty.
    bool TakeMessage(std::vector<uint8_t>& out);
    // Frees every queued message and the buffers kept for reuse.
    void ClearQueue();
    int QueuedCount() const;
    // Messages dropped because the queue was full.
    uint64_t DroppedCount() const { return dropped_.load(); }

    std::string Name() const;
    void SetName(const std::string& name);  // cut to kNameLimit characters

    bool Active() const { return active_.load(); }
    void SetActive(bool active) { active_.store(active); }
    bool HoldsControl() const { return holdsControl_.load(); }
    void SetHoldsControl(bool holds) { holdsControl_.store(holds); }
    // A newer session from the same address asks this one to give way.
    void Replace() { replaced_.store(true); }
    bool Replaced() const { return replaced_.load(); }

  private:
    mutable std::mutex lock_;
    std::array<std::vector<uint8_t>, kQueueLimit> ring_;
    int head_ = 0;   // oldest message
    int count_ = 0;  // messages queued
    std::string name_;
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> active_{false};
    std::atomic<bool> holdsControl_{false};
    std::atomic<bool> replaced_{false};
};

}  // namespace velmora
