// The instance manager: the broker's side of the application interface. One
// thread watches the instance list: it hands each connect request to a
// set-up thread (at most maxSetupThreads at a time) and each close request
// to a close thread, runs the server and application life checks every
// lifeCheckIntervalMs, and asks the program to exit when slot 0 says
// nsBrokerExit. It also holds the routines a connection thread calls to
// move data: delivery into the application's receive queue and taking from
// its send queue (ConnectionHooks).
//
// The worker threads end by themselves; the manager thread reaps them, and
// Stop waits for every one (a set-up in progress gives up when the manager
// stops).
//
// Lock: stopMutex_ guards the stop wake-up and is a leaf. workers_ belongs
// to the manager thread (and to Stop once that thread has ended). The
// instance list is read and written without the instance-list lock: every
// state change is one 32-bit store, and the manager's own changes are
// compare-and-swap from the state it found, so a change the application
// made meanwhile is never overwritten.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "broker/connectionhooks.h"
#include "broker/ztclient.h"
#include "platform/ztthread.h"
#include "transport/ztping.h"

namespace velmora {

class ZTINSTANCE_MANAGER : public ZTTHREAD, public ConnectionHooks {
  public:
    // Starts the manager thread at once. onExitRequest runs (once, on the
    // manager thread) when slot 0 asks the broker to exit; it must only
    // signal the program, which then stops the manager and the engine.
    ZTINSTANCE_MANAGER(ZTCLIENT& engine, std::function<void()> onExitRequest,
                       EchoSocketOpener pingOpener = OpenSystemEchoSocket);
    ~ZTINSTANCE_MANAGER() override;

    // Stops the loop (5 ms looks) and waits for every worker thread.
    void Stop();
    bool IsManagerRunning() const { return managerRunning_.load(); }

    int32_t Deliver(ZTCLIENTINSTANCE& connection, const ZTPACKET& packet) override;
    int32_t Take(ZTCLIENTINSTANCE& connection) override;
    void Error(ZTCLIENTINSTANCE& connection) override;

    // The two 30-second checks, run once (the loop calls them on its timers).
    void CheckServers();
    void CheckApplications(uint32_t now);

    ZTCLIENT& Engine() { return engine_; }
    uint32_t Delivered() const { return delivered_.load(); }
    int32_t SetupThreads() const { return setups_.load(); }
    int32_t MaxSetupThreadsSeen() const { return maxSetupsSeen_.load(); }
    void SetupEnded();
    bool StopWanted() const { return stopWanted_.load(); }

  private:
    struct Requests {
        int32_t connect = -1;  // the first slot with a connect request
        int32_t close = -1;    // the first slot with a close request
    };

    static uint32_t Proc(void* self);
    void Loop();
    Requests FindRequests(uint32_t now);
    bool Pass(uint32_t now);
    void StartWorker(std::unique_ptr<ZTTHREAD> worker);
    void ReapWorkers();
    void WaitForStop(uint32_t ms);
    // Delivery's wait for room: 1 put, -1 no progress for too long, -2 the
    // slot left nsConnected, -3 the queue is damaged.
    int32_t PutRecord(ZTCLIENTINSTANCE& connection, const ZTRECV_RECORD& record);
    // Sets the slot's error and logs the line with the connection key: -1.
    int32_t CloseWithError(ZTCLIENTINSTANCE& connection, int32_t error, const char* line);

    ZTCLIENT& engine_;
    const BrokerSettings settings_;
    std::function<void()> onExitRequest_;
    EchoSocketOpener pingOpener_;

    std::atomic<bool> managerRunning_{false};
    std::atomic<bool> stopWanted_{false};
    std::atomic<uint32_t> delivered_{0};
    std::atomic<int32_t> setups_{0};
    std::atomic<int32_t> maxSetupsSeen_{0};
    bool exitPosted_ = false;
    uint32_t lastServerCheck_ = 0, lastApplicationCheck_ = 0, lastActivity_ = 0;
    uint32_t lastFullScan_ = 0;
    int32_t highestInUse_ = -1;
    ZTTHREAD* serverCheck_ = nullptr;  // the running server check, among workers_

    std::vector<std::unique_ptr<ZTTHREAD>> workers_;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
};

}  // namespace velmora
