// The send thread: takes batches of changed block numbers from its queue,
// encodes each batch once into a SCREEN_BLOCKS message and gives every active
// session its own copy; or, for a full picture, encodes for one new session.
//
// Every pass (frameServiceDelay apart) takes up to maxSendBlock numbers, both
// read from the live configuration each pass, as is the colour depth; the
// compression level is read once, when the thread starts. Numbers taken while
// no session is active are dropped: a new session gets the full picture.
//
// Pausing: the capture thread pauses the send thread while it rebuilds the
// grid or the frame buffer mapping and while it encodes a full picture.
// Pause() returns only once no batch is being encoded, and no batch starts
// until Resume().
//
// Lock: encodeLock_ guards the encoder, the frame view and the enabled flag.
// Order: the capture thread's locks, encodeLock_, the user list's lock, a
// session's lock. The send queue's lock is a leaf.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/ztthread.h"
#include "server/app/liveconfig.h"
#include "server/screen/blockencoder.h"
#include "server/screen/sendqueue.h"
#include "server/screen/userlist.h"

namespace velmora {

class ScreenSession;

struct SendStats {
    uint64_t batches = 0;       // messages encoded
    uint64_t blocks = 0;        // blocks encoded
    uint64_t payloadBytes = 0;  // before compression
    uint64_t messageBytes = 0;  // after compression, one copy
    uint64_t copies = 0;        // copies given to sessions
    uint64_t failures = 0;      // batches that could not be encoded (dropped)
};

class TSendCapture : public ZTTHREAD {
  public:
    // A batch never holds more numbers than this, whatever maxSendBlock says.
    static constexpr int kMaxBatch = 1024;
    static constexpr uint32_t kDisabledSleepMs = 20;

    TSendCapture(const LiveConfig& config, UserList& users);
    ~TSendCapture() override;

    // Sets the compression level from the configuration and starts the
    // thread, enabled. False when the thread could not be created.
    bool Start();
    // Asks the thread to end and waits until it has.
    void Stop();

    // Only while paused or before Start: the frame to read blocks from.
    // Empties the queue, sizes it to the grid and empties the colour cache.
    void SetFrame(const FrameView& view);

    void QueueBlocks(const int32_t* numbers, int count) { queue_.QueueFront(numbers, count); }
    int TakeBlocks(int max, int32_t* out) { return queue_.Take(max, out); }
    bool QueueEmpty() const { return queue_.Empty(); }
    int QueueSize() const { return queue_.Size(); }

    // Encodes the batch and gives a copy to `session` alone, or with none to
    // every active session. Returns the message length, 0 when there was
    // nothing to send, or a negative code (the batch is then dropped).
    int EncodeAndSend(const int32_t* numbers, int count, ScreenSession* session);

    void Pause();
    void Resume();
    bool Enabled() const { return enabled_.load(); }

    SendStats Stats() const;

  private:
    static uint32_t ThreadProc(void* self);
    void Loop();
    // One pass while enabled: take, encode, send.
    void Pass();
    int EncodeLocked(const int32_t* numbers, int count, ScreenSession* session);

    const LiveConfig& config_;
    UserList& users_;
    SendQueue queue_;

    mutable std::mutex encodeLock_;
    BlockEncoder encoder_;
    FrameView view_;
    std::atomic<bool> enabled_{false};
    std::vector<int32_t> batch_;  // the thread's own batch

    std::atomic<uint64_t> batches_{0}, blocks_{0}, payloadBytes_{0}, messageBytes_{0}, copies_{0},
        failures_{0};
};

}  // namespace velmora
