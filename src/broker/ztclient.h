// The broker engine: the client side of the transport, one per broker
// process. It owns the instance list (through the broker's lifetime lock),
// the data and acknowledgement sockets, the receive thread (this object),
// the packet router and the acknowledgement listener, and it sets
// connections up in slots, closes them and frees them on behalf of the
// instance manager. The same two sockets carry every connection of every
// application; the connectionKey of a packet (the slot index) tells them
// apart. The engine also cuts and sends its own control messages.
//
// Per slot the engine keeps the transport lists for the engine's whole life
// (they are small and empty while the slot is free), so the router and the
// acknowledgement listener never meet a list that is being destroyed; the
// connection object (thread, pending frames, queue mappings and locks) is
// created at a set-up and kept for reuse or destroyed at a close.
//
// Locks: each slot's useLock guards its connection object pointer and
// serialises the router's and listener's use of the slot's lists against
// release; order: a slot's useLock, then the connection's send-list lock,
// then the lists' own locks. keptLock_ guards keptSlots_ and is a leaf.
// Slot fields are single stores (state with release order), as the
// instance list's contract says.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "broker/brokersettings.h"
#include "broker/brokerstatushooks.h"
#include "broker/ztclientinstance.h"
#include "clientif/brokerlock.h"
#include "clientif/ztinstance_slot.h"
#include "platform/ztlog.h"
#include "platform/ztmutex.h"
#include "platform/ztthread.h"
#include "transport/ztacks_list.h"
#include "transport/ztflatqueue.h"
#include "transport/ztpacket_completelist.h"
#include "transport/ztpacket_inlist.h"
#include "transport/ztudp.h"

namespace velmora {

class ZTCLIENTPACKETROUTER;
class ZTACKSCLIENTLISTEN;

class ZTCLIENT : public ZTTHREAD {
  public:
    // Results of Open and Start.
    static constexpr int32_t kStarted = 1;
    static constexpr int32_t kDataSocketFailed = -1;
    static constexpr int32_t kAckSocketFailed = -3;
    static constexpr int32_t kAlreadyRunning = -1000;
    static constexpr int32_t kBindFailed = -1001;
    static constexpr int32_t kAlreadyStarted = -1003;
    static constexpr int32_t kNoInstanceList = -1004;

    static constexpr int32_t kReceiveQueueEntries = 5000;
    static constexpr uint32_t kSocketBufferBytes = 230000;

    // The transport lists of one slot.
    struct SlotLists {
        ZTPACKET_INLIST inList[2];  // by channel
        ZTPACKET_COMPLETELIST completeList[2];
        ZTACKS_LIST acks[2];
    };

    // Takes the broker's lifetime lock and creates the instance list with
    // every slot free. Without the lock (another broker of this name lives,
    // or the name is refused) there is no instance list: Open answers
    // kNoInstanceList and InstanceListError() says why.
    explicit ZTCLIENT(const char* brokerName, const BrokerSettings& settings = {});
    ~ZTCLIENT() override;

    // Opens both sockets and starts the threads: kStarted or an error code.
    [[nodiscard]] int32_t Open(uint32_t receiveBytes, uint32_t sendBytes);
    [[nodiscard]] int32_t Start();
    // Stops the threads, closes every connection, removes the instance list
    // and closes the sockets. Safe to call more than once.
    void Shutdown();

    // Sets a connection up in slot `index` and queues its ccConnect; false
    // (slot released, a critical line logged) when an object cannot be made,
    // or (slot nsError, error nleBrokerNotStart) when the engine is stopped.
    [[nodiscard]] bool ConnectSlot(int32_t index, uint32_t connectionType, uint32_t initialRttMs);
    // Closes the connection of a slot: ccDisconnect waited for at most
    // waitMs, objects kept for reuse (keep) or freed. Answers 1.
    int32_t DisconnectSlot(int32_t index, uint32_t waitMs, bool keep);
    void ReleaseSlot(int32_t index, bool keep);

    // Queues a control message on the slot's connection; with waitMs (and
    // noAck 0) waits for its acknowledgement. The length, or -1 when the
    // wait ran out, the slot left the connected states or has no connection.
    [[nodiscard]] int32_t SendControl(int32_t index, uint8_t channel, uint32_t waitMs,
                                      uint32_t length, const void* data, uint8_t noAck);
    // 0 while the frame is pending (or there is no connection, or the engine
    // is stopped), 1 once it is gone.
    [[nodiscard]] int32_t IsFramePending(int32_t index, uint8_t channel, uint16_t frameSeq);
    // One packet of a frame to the slot's server (port P); the slot's last
    // send tick is updated. ZTUDP::SendTo's result.
    int32_t SendPacket(int32_t index, const void* packet, size_t length);
    // An acknowledgement to the slot's server (port P + 1), with
    // pendingFrames and the connection's own address filled in.
    void SendAck(int32_t index, PACKETRETURN record, uint32_t pendingFrames);

    // A status line (critical = 1 also goes to the critical log).
    void Log(const char* text, bool critical);
    void Logf(bool critical, const char* format, ...) __attribute__((format(printf, 3, 4)));
    ZTLOG& LogChannel() { return log_; }

    void SetStatusHooks(const BrokerStatusHooks& hooks) { statusHooks_ = hooks; }
    const BrokerStatusHooks& StatusHooks() const { return statusHooks_; }

    // Kept slots, at most settings.maxKeptSlots. ReserveKeptSlot counts one
    // more when there is room; ReturnKeptSlot counts one less (not below 0).
    bool ReserveKeptSlot();
    void ReturnKeptSlot();
    int32_t KeptSlots();
    void CountCacheHit() { cacheHits_.fetch_add(1); }
    void AddConnection(int32_t delta) { connectionCount_.fetch_add(delta); }

    bool IsEngineRunning() const { return engineRunning_.load(); }
    bool HasInstanceList() const { return lock_.List() != nullptr; }
    const std::string& InstanceListError() const { return listError_; }
    // Why the last Open failed, for the user.
    const std::string& OpenError() const { return openError_; }
    ZTINSTANCE_SLOT& Slot(int32_t index) { return lock_.Slot(index); }
    SlotLists& Lists(int32_t index) { return lists_[index]; }
    const std::string& Name() const { return name_; }
    const BrokerSettings& Settings() const { return settings_; }
    ZTFLATQUEUE& ReceiveQueue() { return queue_; }
    uint16_t AckPortRaw() const { return ackPortRaw_; }
    uint16_t DataPortRaw() const;

    // Runs fn(connection) under the slot's useLock when the slot has a
    // connection object; false otherwise.
    template <typename Fn>
    bool WithConnection(int32_t index, Fn&& fn);
    // Runs fn(lists, connection or null) under the slot's useLock.
    template <typename Fn>
    void WithSlot(int32_t index, Fn&& fn);
    // Wakes the slot's connection thread, if it has one.
    void WakeConnection(int32_t index);

    // Statistics, for the broker window and the tests.
    struct Figures {
        uint32_t sendRate = 0;  // sums over the connected slots
        uint32_t receiveRate = 0;
        uint32_t framesWaiting = 0;
        uint32_t connections = 0;     // connected slots
        int32_t connectionCount = 0;  // the engine's own count
        uint32_t overflows = 0;
        uint32_t unknownPackets = 0;
        uint32_t cacheHits = 0;
        int32_t keptSlots = 0;
        uint32_t routerReceiveRate = 0;
        uint32_t queued = 0;  // entries in the receive queue
    };
    Figures Statistics();
    void CountUnknownPacket();
    void SetRouterReceiveRate(uint32_t bytesPerSecond) { receiveRate_.store(bytesPerSecond); }

  private:
    struct SlotHolder {
        std::mutex useLock;
        std::unique_ptr<ZTCLIENTINSTANCE> connection;
    };

    static uint32_t ReceiveProc(void* self);
    void ReceiveLoop();
    int32_t OpenSockets(uint32_t receiveBytes, uint32_t sendBytes);
    void CloseSockets();
    void QueueDisconnects();
    bool MakeConnection(int32_t index);
    void FillSlotForConnect(ZTINSTANCE_SLOT& slot, int32_t index, uint32_t connectionType);
    void ClearSlotFields(ZTINSTANCE_SLOT& slot);

    const std::string name_;
    const BrokerSettings settings_;
    ZTUDP udp_;
    ZTLOG log_{"ZTCLIENT.LOG"};
    BrokerLock lock_;
    std::string listError_;
    std::string openError_;
    ZTMUTEX listLock_;  // "%sSHARE", held open, never locked here
    ZTFLATQUEUE queue_{kReceiveQueueEntries};
    std::unique_ptr<ZTCLIENTPACKETROUTER> router_;
    std::unique_ptr<ZTACKSCLIENTLISTEN> ackListener_;
    BrokerStatusHooks statusHooks_;

    SocketHandle dataSocket_, ackSocket_;
    uint16_t ackPortRaw_ = 0;
    uint32_t receiveBytes_ = 0, sendBytes_ = 0;

    std::atomic<bool> engineRunning_{false};
    std::atomic<bool> shutDown_{false};
    std::atomic<uint32_t> overflows_{0};
    std::atomic<uint32_t> unknownPackets_{0};
    std::atomic<uint32_t> cacheHits_{0};
    std::atomic<uint32_t> receiveRate_{0};
    std::atomic<int32_t> connectionCount_{0};
    std::mutex keptLock_;
    int32_t keptSlots_ = 0;

    std::unique_ptr<SlotLists[]> lists_;
    std::unique_ptr<SlotHolder[]> slots_;
    // Each connection's own address (network order): the source address the
    // kernel picks toward its server, written into its acknowledgements.
    std::unique_ptr<std::atomic<uint32_t>[]> ownAddress_;
};

template <typename Fn>
bool ZTCLIENT::WithConnection(int32_t index, Fn&& fn) {
    if (index < 0 || index >= kInstanceSlots) return false;
    SlotHolder& holder = slots_[index];
    std::lock_guard<std::mutex> guard(holder.useLock);
    if (!holder.connection) return false;
    fn(*holder.connection);
    return true;
}

template <typename Fn>
void ZTCLIENT::WithSlot(int32_t index, Fn&& fn) {
    SlotHolder& holder = slots_[index];
    std::lock_guard<std::mutex> guard(holder.useLock);
    fn(lists_[index], holder.connection.get());
}

}  // namespace velmora
