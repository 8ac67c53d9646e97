// The send thread's queue of changed block numbers: an ordered list whose
// front is sent first. Queuing a number that already waits moves it to the
// front instead of adding it twice, so the newest changes go first and a
// block is never sent twice for one change.
//
// A doubly linked list threaded through two arrays indexed by block number:
// queuing, moving and taking cost O(1) per number and allocate nothing; only
// Reset (when the screen is mapped anew) sizes the arrays.
//
// Lock: lock_ guards everything; it is a leaf lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace velmora {

class SendQueue {
  public:
    // Empties the queue and accepts the numbers 0 .. blockCount - 1 from now
    // on. False when the memory cannot be had (the queue then accepts none).
    bool Reset(int blockCount);

    // Removes each given number from the queue if it is there, then inserts
    // the numbers one by one at the front, so that the last of them is sent
    // first. Numbers outside the grid are ignored.
    void QueueFront(const int32_t* numbers, int count);

    // Moves up to `max` numbers from the front into `out`; answers how many.
    int Take(int max, int32_t* out);

    int Size() const;
    bool Empty() const { return Size() == 0; }

  private:
    static constexpr int32_t kNone = -1;
    static constexpr int32_t kOut = -2;  // in prev_: the number is not queued

    void Unlink(int32_t n);

    mutable std::mutex lock_;
    std::vector<int32_t> prev_;  // kOut when not queued, kNone at the front
    std::vector<int32_t> next_;
    int32_t front_ = kNone;
    int32_t back_ = kNone;
    int size_ = 0;
};

}  // namespace velmora
