// Thread base class of every worker in the system.
//
// A thread is created by Run(): Run(false) creates it waiting at a start gate,
// Run(true) creates it running, or opens the gate of a waiting one. Run(false)
// on a running thread asks it to pause: loops that call PausePoint() block
// there until Run(true). Workers derive from ZTTHREAD, set threadProc (a
// static function that calls the object's loop) and use the cooperative stop
// flags: the loop calls BeginLoop() when it starts, checks StopRequested()
// once per turn and calls EndLoop() when it leaves; the owner calls
// StopAndWait(). Nothing ever kills a thread.
//
// Lock: gateMutex_ guards gateOpen_, paused_ and cancelled_; it is a leaf lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace velmora {

class ZTTHREAD {
public:
    using ThreadProc = uint32_t (*)(void* parameter);

    ZTTHREAD() = default;
    ZTTHREAD(const ZTTHREAD&) = delete;
    ZTTHREAD& operator=(const ZTTHREAD&) = delete;

    // Waits for the thread procedure to return; a thread still waiting at its
    // gate is released without running its procedure. Owners stop loops
    // first; an owner that gives up waiting for a loop (StopAndWait with a
    // limit) keeps the object alive until HasExited().
    virtual ~ZTTHREAD();

    // See the class comment. Returns true, or false when the thread could not
    // be created (or no threadProc was set).
    bool Run(bool start);

    // Called by loops once per turn; blocks while the thread is paused.
    void PausePoint();

    bool IsStarted() const { return started_.load(); }
    // True once the thread procedure has returned.
    bool HasExited() const { return exited_.load(); }
    uint32_t ExitCode() const { return exitCode_.load(); }

    // Cooperative stop. The loop's side:
    void BeginLoop() { running_.store(true); }
    void EndLoop() {
        running_.store(false);
        stopRequested_.store(true);
    }
    bool StopRequested() const { return stopRequested_.load(std::memory_order_relaxed); }
    bool IsRunning() const { return running_.load(); }

    // The owner's side: requests the stop and waits, sleeping pollMs between
    // looks, until the thread procedure has returned (or the thread never
    // started). Gives up after limitMs and answers false; true when stopped.
    bool StopAndWait(uint32_t pollMs, uint32_t limitMs = UINT32_MAX);
    void RequestStop() { stopRequested_.store(true); }

    // Best-effort scheduling hint (a nice value for this thread); failures,
    // such as raising priority without the right to, are ignored.
    void SetNice(int nice);

protected:
    void* parameter = nullptr;       // given to threadProc; the object itself when null
    ThreadProc threadProc = nullptr;  // set by the derived class before Run

private:
    static void Trampoline(ZTTHREAD* self, ThreadProc proc, void* param);
    void OpenGate(bool cancel);

    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> exited_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint32_t> exitCode_{0};
    std::atomic<int> tid_{0};

    std::mutex gateMutex_;
    std::condition_variable gateCv_;
    bool gateOpen_ = false;
    bool paused_ = false;
    bool cancelled_ = false;
};

}  // namespace velmora
