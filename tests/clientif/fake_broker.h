// A stand-in for the broker's side of the instance list and the queues, for
// testing the client-interface library without the broker engine: it holds
// the broker's lifetime lock and instance list (BrokerLock), answers connect
// requests, echoes every record of a send queue into the receive queue of the
// same slot, frees slots an application closes, and shuts down when slot 0
// asks it to. It uses the same queue and slot code as the real broker.
//
// Lock: lock_ guards every member the test may change or read while the
// loop runs (behaviour_, the slots' objects); the loop holds it for one pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "clientif/brokerlock.h"
#include "clientif/sharedqueue.h"
#include "platform/ztmutex.h"
#include "platform/ztshared_memory.h"
#include "platform/ztthread.h"

namespace velmora::test {

enum class FakeAnswer {
    kConnect,  // set the connection up: queues, name, key, nsConnected
    kRefuse,   // nsError with refuseError
    kIgnore,   // leave requests waiting
};

struct FakeBehaviour {
    FakeAnswer answer = FakeAnswer::kConnect;
    int32_t refuseError = nleServerConnectFail;
    bool echo = true;          // move records from send to receive queues
    uint32_t exitDelayMs = 0;  // after nsBrokerExit, before the list goes
};

class FakeBroker : public ZTTHREAD {
  public:
    using Answer = FakeAnswer;
    using Behaviour = FakeBehaviour;

    explicit FakeBroker(std::string name, Behaviour behaviour = {});
    ~FakeBroker() override;

    // Takes the name and starts the loop. False (why set) when it cannot.
    bool Start(std::string* why);
    void Stop();
    // True once the loop ended by a broker-exit request.
    bool Exited() const { return exited_.load(); }

    void SetBehaviour(const Behaviour& behaviour);
    ZTINSTANCE_SLOT& Slot(int32_t index) { return lock_.Slot(index); }
    // The broker's view of a connected slot's receive queue, for writing
    // records the way a faulty broker would. Null when the slot has none.
    ReceiveQueue* BrokerReceiveQueue(int32_t index);
    SendQueue* BrokerSendQueue(int32_t index);

  private:
    struct Connection;

    static uint32_t Proc(void* self);
    void Loop();
    void Pass();
    void SetUp(int32_t index);
    void Close(int32_t index);
    void Echo(int32_t index, Connection& connection);

    std::string name_;
    BrokerLock lock_;
    std::mutex mutex_;
    Behaviour behaviour_;
    std::unique_ptr<Connection> connections_[kInstanceSlots];
    std::atomic<bool> exited_{false};
};

}  // namespace velmora::test
