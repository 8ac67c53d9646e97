#include "clientif/fake_broker.h"

#include <cstring>
#include <optional>

#include "clientif/brokernames.h"
#include "platform/tick.h"

namespace velmora::test {

struct FakeBroker::Connection {
    std::unique_ptr<ZTSHARED_MEMORY> receiveMemory;
    std::unique_ptr<ZTSHARED_MEMORY> sendMemory;
    ZTMUTEX receiveLock;
    ZTMUTEX sendLock;
    ReceiveQueue receive;
    SendQueue send;
    // The message being echoed: its total and what it still lacks.
    int32_t total = 0;
    int32_t remaining = 0;
    std::optional<ZTRECV_RECORD> held;  // taken, waiting for room
};

FakeBroker::FakeBroker(std::string name, Behaviour behaviour)
    : name_(std::move(name)), behaviour_(behaviour) {
    threadProc = &FakeBroker::Proc;
}

FakeBroker::~FakeBroker() {
    Stop();
}

bool FakeBroker::Start(std::string* why) {
    if (lock_.Acquire(name_.c_str()) != BrokerLock::kAcquired) {
        *why = lock_.LastError();
        return false;
    }
    return Run(true);
}

void FakeBroker::Stop() {
    (void)StopAndWait(1);
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& connection : connections_) connection.reset();
    lock_.Release();
}

void FakeBroker::SetBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> guard(mutex_);
    behaviour_ = behaviour;
}

ReceiveQueue* FakeBroker::BrokerReceiveQueue(int32_t index) {
    std::lock_guard<std::mutex> guard(mutex_);
    return connections_[index] ? &connections_[index]->receive : nullptr;
}

SendQueue* FakeBroker::BrokerSendQueue(int32_t index) {
    std::lock_guard<std::mutex> guard(mutex_);
    return connections_[index] ? &connections_[index]->send : nullptr;
}

uint32_t FakeBroker::Proc(void* self) {
    static_cast<FakeBroker*>(self)->Loop();
    return 0;
}

void FakeBroker::Loop() {
    BeginLoop();
    while (!StopRequested()) {
        if (SlotState(Slot(0)) == nsBrokerExit) {
            std::unique_lock<std::mutex> guard(mutex_);
            const uint32_t delay = behaviour_.exitDelayMs;
            guard.unlock();
            SleepMs(delay);
            guard.lock();
            for (auto& connection : connections_) connection.reset();
            lock_.Release();
            exited_.store(true);
            break;
        }
        Pass();
        SleepMs(1);
    }
    EndLoop();
}

void FakeBroker::Pass() {
    std::lock_guard<std::mutex> guard(mutex_);
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        const int32_t state = SlotState(Slot(i));
        if (state == nsNewConnection) {
            SetUp(i);
        } else if (state == nsDisConnected) {
            Close(i);
        } else if (state == nsConnected && behaviour_.echo && connections_[i]) {
            Echo(i, *connections_[i]);
        }
    }
}

void FakeBroker::SetUp(int32_t index) {
    ZTINSTANCE_SLOT& slot = Slot(index);
    if (behaviour_.answer == Answer::kIgnore) return;
    if (behaviour_.answer == Answer::kRefuse) {
        slot.errorCode = behaviour_.refuseError;
        SetSlotState(slot, nsError);
        return;
    }
    auto c = std::make_unique<Connection>();
    c->receiveMemory = std::make_unique<ZTSHARED_MEMORY>(ReceiveQueueName(name_, index).c_str(),
                                                         kReceiveQueueSize, true);
    c->sendMemory = std::make_unique<ZTSHARED_MEMORY>(SendQueueName(name_, index).c_str(),
                                                      kSendQueueSize, true);
    if (c->receiveMemory->View() == nullptr || c->sendMemory->View() == nullptr ||
        !c->receiveLock.Create(ReceiveQueueLockName(name_, index).c_str()) ||
        !c->sendLock.Create(SendQueueLockName(name_, index).c_str())) {
        slot.errorCode = nleSetUpFailed;
        SetSlotState(slot, nsError);
        return;
    }
    c->receive = ReceiveQueue(c->receiveMemory->View(), kReceiveQueueSize, &c->receiveLock);
    c->send = SendQueue(c->sendMemory->View(), kSendQueueSize, &c->sendLock);
    c->receive.Initialise();
    c->send.Initialise();
    connections_[index] = std::move(c);
    std::memset(slot.name, 0, sizeof(slot.name));
    std::memcpy(slot.name, name_.data(), name_.size());
    slot.connectionKey = index;
    slot.errorCode = nleOk;
    slot.cacheState = kCacheInUse;
    SetSlotState(slot, nsConnected);
}

void FakeBroker::Close(int32_t index) {
    connections_[index].reset();
    ResetSlot(Slot(index));
    Slot(index).connectionKey = -1;
}

// Moves records from the send queue to the receive queue, checking each
// against its message as the broker's taking routine does.
void FakeBroker::Echo(int32_t index, Connection& c) {
    for (;;) {
        if (!c.held) {
            ZTSEND_RECORD record;
            const int32_t taken = c.send.Take(record);
            if (taken == kQueueNone) return;
            const int32_t total = taken == kQueueDone ? record.totalLength.get() : -1;
            if (c.remaining == 0) c.total = c.remaining = total;
            if (taken == kQueueDamaged ||
                !RecordFitsMessage(total, record.dataLength.get(), c.total, c.remaining,
                                   sizeof(record.data))) {
                Slot(index).errorCode = nleInvalidPacket;
                (void)ChangeSlotState(Slot(index), nsConnected, nsDisConnected);
                return;
            }
            c.remaining -= record.dataLength.get();
            ZTRECV_RECORD echoed{};
            echoed.totalLength = total;
            echoed.dataLength = record.dataLength.get();
            echoed.noAck = record.noAck;
            std::memcpy(echoed.data, record.data, static_cast<size_t>(record.dataLength.get()));
            c.held = echoed;
        }
        if (c.receive.Put(*c.held) != kQueueDone) return;
        c.held.reset();
    }
}

}  // namespace velmora::test
