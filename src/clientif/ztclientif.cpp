// Connecting, disconnecting and stopping the broker. Sending and receiving
// are in ztclientif_io.cpp.
#include "clientif/ztclientif.h"

#include <arpa/inet.h>

#include <cstring>
#include <memory>

#include "clientif/brokerlock.h"
#include "clientif/brokernames.h"
#include "clientif/clientifstate.h"
#include "clientif/instancelist.h"
#include "platform/tick.h"
#include "platform/ztmutex.h"

namespace velmora {
namespace {

constexpr uint32_t kRequestPollMs = 1;
constexpr size_t kServerAddressMax = kServerAddressTextField - 1;

struct Request {
    std::string brokerName;
    std::string lockPath;
    std::string addressText;
    in_addr_t address = 0;
    uint16_t port = 0;
    uint32_t connectionType = 0;
    bool show = false;
    uint32_t timeoutMs = 0;
};

// Holds a named mutex for a scope. Lock waits at most 60000 ms and goes on
// either way, as every user of these mutexes does.
class MutexHold {
  public:
    explicit MutexHold(ZTMUTEX& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexHold() { mutex_.Unlock(); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

  private:
    ZTMUTEX& mutex_;
};

// The arguments of a connect; false with `why` set when one is refused.
bool MakeRequest(const char* brokerName, const char* serverAddress, uint16_t port,
                 uint32_t connectionType, int32_t show, uint32_t timeoutMs, Request* request,
                 std::string* why) {
    if (brokerName == nullptr || !CheckBrokerName(brokerName, why)) {
        if (brokerName == nullptr) *why = "no broker name was given";
        return false;
    }
    request->brokerName = brokerName;
    const std::string text = serverAddress != nullptr ? serverAddress : "";
    in_addr parsed{};
    if (text.size() > kServerAddressMax || inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        *why = "the server address \"" + text + "\" is not a dotted IPv4 address";
        return false;
    }
    // P + 1 is the server's acknowledgement port, so P must leave room for it.
    if (port == 0 || port == UINT16_MAX) {
        *why = "the server port " + std::to_string(port) + " is not usable (1 to 65534)";
        return false;
    }
    request->addressText = text;
    request->address = parsed.s_addr;
    request->port = port;
    request->connectionType = connectionType;
    request->show = show == 1;
    request->timeoutMs = timeoutMs;
    request->lockPath = BrokerLock::LockPath(request->brokerName, why);
    if (request->lockPath.empty()) {
        *why = "the broker's lock file has no place: " + *why;
        return false;
    }
    return true;
}

// Starts the broker and waits for its instance list. nleOk also when the
// list did not come: the caller's open of the list reports that.
int32_t StartBroker(const Request& request, const ZtifSettings& settings, std::string* why) {
    BrokerStarter& starter = ClientIfState::Instance().Starter();
    const std::string program = BrokerStarter::FindProgram(settings.brokerProgram, why);
    if (program.empty()) return nleHostExcuteNotFound;
    pid_t pid = 0;
    int32_t result = starter.Start(program, request.brokerName, request.show, &pid, why);
    if (result != nleOk) return result;
    SleepMs(settings.startCheckMs);
    bool ended = false;
    const uint32_t begin = Tick();
    for (;;) {
        // Its exit code is asked first, so a broker that ended with -1 is
        // reported as such even when its list was seen for a moment.
        result = starter.Check(pid, &ended, why);
        if (result != nleOk) return result;
        if (InstanceList(request.brokerName, request.lockPath).IsOpen()) break;
        if (ended) {
            *why = "the broker program " + program + " ended without making its instance list";
            return nleOk;
        }
        if (TickSince(begin) >= settings.listWaitMs) {
            *why = "the broker program " + program + " did not make its instance list within " +
                   std::to_string(settings.listWaitMs) + " ms";
            break;
        }
        SleepMs(settings.listPollMs);
    }
    starter.Settle(pid);
    return nleOk;
}

// Makes sure a live broker serves the name, starting one when there is none
// or when the one there has died. Serialised among all applications of the
// user by the broker-start lock.
int32_t EnsureBroker(const Request& request, const ZtifSettings& settings, std::string* why) {
    ZTMUTEX startLock;
    (void)startLock.Create(kBrokerStartLockName);  // without it, starts are not serialised
    MutexHold hold(startLock);
    if (InstanceList(request.brokerName, {}).IsOpen()) {
        if (BrokerLock::IsBrokerAlive(request.lockPath)) return nleOk;
        // A broker that took the name since is alive after all.
        if (!BrokerLock::RemoveIfStale(request.brokerName)) return nleOk;
    }
    return StartBroker(request, settings, why);
}

// Claims a free slot, preferring one that kept an earlier connection's
// resources, and writes the request, publishing it by its state last.
int32_t ClaimSlot(const InstanceList& list, const Request& request, const Guid& guid) {
    ZTMUTEX claimLock;
    (void)claimLock.Create(InstanceListLockName(request.brokerName).c_str());
    MutexHold hold(claimLock);
    int32_t chosen = -1;
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        const ZTINSTANCE_SLOT& slot = list.Slot(i);
        if (SlotState(slot) != nsNotUse) continue;
        if (slot.cacheState.get() == kCacheKept) {
            chosen = i;
            break;
        }
        if (chosen < 0) chosen = i;
    }
    if (chosen < 0) return nleServerConnectFull;
    ZTINSTANCE_SLOT& slot = list.Slot(chosen);
    slot.connectionKey = 0;
    std::memcpy(slot.applicationGuid, guid.bytes.data(), sizeof(slot.applicationGuid));
    slot.connectionType = request.connectionType;
    slot.connectTimeoutMs = request.timeoutMs;
    slot.serverAddress.setRaw(request.address);
    slot.serverPort.setRaw(htons(request.port));
    std::memset(slot.serverPortHigh, 0, sizeof(slot.serverPortHigh));
    slot.serverAckPort.setRaw(htons(static_cast<uint16_t>(request.port + 1)));
    std::memset(slot.serverAckPortHigh, 0, sizeof(slot.serverAckPortHigh));
    std::memset(slot.serverAddressText, 0, sizeof(slot.serverAddressText));
    std::memcpy(slot.serverAddressText, request.addressText.data(), request.addressText.size());
    slot.serverPortHost = request.port;
    SetSlotState(slot, nsNewConnection);
    return chosen;
}

// Waits for the broker's verdict on the request in `slot`.
int32_t AwaitVerdict(ZTINSTANCE_SLOT& slot, uint32_t timeoutMs, uint32_t graceMs,
                     std::string* why) {
    const uint64_t limit64 = static_cast<uint64_t>(timeoutMs) + graceMs;
    const uint32_t limit = limit64 >= UINT32_MAX ? UINT32_MAX - 1 : static_cast<uint32_t>(limit64);
    const uint32_t begin = Tick();
    for (;;) {
        const int32_t state = SlotState(slot);
        if (state == nsConnected) return nleOk;
        if (state == nsError || state == nsNotUse) {
            int32_t code = slot.errorCode.get();
            (void)ChangeSlotState(slot, nsError, nsNotUse);
            if (code == nleOk) code = nleUnknownError;  // a failure never reads as success
            *why = "the broker could not make the connection (" + ErrorCodeName(code) + ")";
            return code;
        }
        if (TickSince(begin) > limit) {
            *why = "the broker did not answer the connect request within " + std::to_string(limit) +
                   " ms";
            return nleTimeout;
        }
        SleepMs(kRequestPollMs);
    }
}

// The connection's handle with both queues and their locks open; null when
// any of them cannot be opened.
std::unique_ptr<ZTIF_CONNECTION> OpenConnection(const Request& request, int32_t index,
                                                const ZTINSTANCE_SLOT& slot, std::string* why) {
    // The slot's name field prefixes the queue names; it comes from the
    // broker and must be a proper name.
    const size_t length = strnlen(slot.name, sizeof(slot.name));
    const std::string prefix(slot.name, length);
    if (length == sizeof(slot.name) || !CheckBrokerName(prefix, why)) {
        *why = "the slot holds no usable queue name";
        return nullptr;
    }
    auto connection = std::make_unique<ZTIF_CONNECTION>();
    std::memcpy(connection->brokerName, request.brokerName.data(), request.brokerName.size());
    connection->slotIndex = index;
    connection->connectionKey = slot.connectionKey.get();
    connection->lockPath = request.lockPath;
    connection->receiveMemory = std::make_unique<ZTSHARED_MEMORY>(
        ReceiveQueueName(prefix, index).c_str(), kReceiveQueueSize, false);
    connection->sendMemory = std::make_unique<ZTSHARED_MEMORY>(SendQueueName(prefix, index).c_str(),
                                                               kSendQueueSize, false);
    for (const ZTSHARED_MEMORY* memory :
         {connection->receiveMemory.get(), connection->sendMemory.get()}) {
        if (memory->View() == nullptr) {
            *why = "a queue of the connection cannot be opened: " + memory->LastError();
            return nullptr;
        }
    }
    if (!connection->receiveLock.Create(ReceiveQueueLockName(prefix, index).c_str()) ||
        !connection->sendLock.Create(SendQueueLockName(prefix, index).c_str())) {
        *why = "a queue lock of the connection cannot be opened: " +
               connection->receiveLock.LastError() + connection->sendLock.LastError();
        return nullptr;
    }
    connection->receiveQueue =
        ReceiveQueue(connection->receiveMemory->View(), connection->receiveMemory->Size(),
                     &connection->receiveLock);
    connection->sendQueue = SendQueue(connection->sendMemory->View(),
                                      connection->sendMemory->Size(), &connection->sendLock);
    return connection;
}

ZTIF_CONNECTION* Connect(const char* brokerName, const char* serverAddress, uint16_t port,
                         uint32_t connectionType, int32_t show, uint32_t timeoutMs) {
    ClientIfState& state = ClientIfState::Instance();
    if (state.Closing()) return nullptr;
    state.Starter().ReapEnded();
    std::string why;
    Request request;
    if (!MakeRequest(brokerName, serverAddress, port, connectionType, show, timeoutMs, &request,
                     &why)) {
        return state.Fail(nleInvalidConnect, "connect refused: " + why);
    }
    const ZtifSettings settings = state.Settings();
    const int32_t started = EnsureBroker(request, settings, &why);
    if (started != nleOk) return state.Fail(started, why);
    const Guid guid = state.ApplicationGuid();

    auto list = std::make_unique<InstanceList>(request.brokerName, request.lockPath);
    if (!list->IsOpen()) {
        return state.Fail(nleServerConnectFail,
                          "the instance list of broker \"" + request.brokerName +
                              "\" cannot be opened: " + (why.empty() ? list->LastError() : why));
    }
    const int32_t index = ClaimSlot(*list, request, guid);
    if (index < 0) {
        return state.Fail(index, "all " + std::to_string(kInstanceSlots) +
                                     " connection slots of broker \"" + request.brokerName +
                                     "\" are taken");
    }
    ZTINSTANCE_SLOT& slot = list->Slot(index);
    const int32_t verdict = AwaitVerdict(slot, timeoutMs, settings.connectGraceMs, &why);
    if (verdict != nleOk) return state.Fail(verdict, why);

    std::unique_ptr<ZTIF_CONNECTION> connection = OpenConnection(request, index, slot, &why);
    if (!connection) {
        // Nobody would use the connection: the broker is asked to close it.
        (void)ChangeSlotState(slot, nsConnected, nsDisConnected);
        return state.Fail(nleInvalidConnect, why);
    }
    Guid fromSlot;
    std::memcpy(fromSlot.bytes.data(), slot.applicationGuid, fromSlot.bytes.size());
    state.SetApplicationGuid(fromSlot);
    if (!state.KeepAlive(request.brokerName)) {
        (void)ChangeSlotState(slot, nsConnected, nsDisConnected);
        return state.Fail(nleUnknownError, "the keep-alive thread cannot be started");
    }
    connection->list = std::move(list);
    connection->lastError.store(nleOk);
    return connection.release();
}

}  // namespace

ZTIF_CONNECTION* ZtifConnect(const char* brokerName, const char* serverAddress, uint16_t serverPort,
                             uint32_t connectionType, int32_t show, uint32_t timeoutMs) {
    try {
        return Connect(brokerName, serverAddress, serverPort, connectionType, show, timeoutMs);
    } catch (...) {
        return ClientIfState::Instance().Fail(nleUnknownError, "connect failed: out of resources");
    }
}

int32_t ZtifDisconnect(ZTIF_CONNECTION* connection) {
    if (connection == nullptr) return 0;
    const std::unique_ptr<ZTIF_CONNECTION> owned(connection);
    try {
        const InstanceList& list = *owned->list;
        if (!list.IsCurrent()) return 0;
        if (ChangeSlotState(list.Slot(owned->slotIndex), nsConnected, nsDisConnected)) {
            ClientIfState::Instance().ForgetIfIdle(owned->brokerName, list);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

void ZtifStopBroker(const char* brokerName) {
    try {
        if (brokerName == nullptr || !CheckBrokerName(brokerName)) return;
        ClientIfState& state = ClientIfState::Instance();
        const ZtifSettings settings = state.Settings();
        const std::string name = brokerName;
        const std::string lockPath = BrokerLock::LockPath(name);
        const InstanceList list(name, {});
        if (!list.IsOpen()) return;
        ZTINSTANCE_SLOT& first = list.Slot(0);
        SetSlotState(first, nsBrokerExit);
        const uint32_t begin = Tick();
        for (;;) {
            SleepMs(settings.stopPollMs);
            // Gone, or replaced by the list of a broker started since.
            if (!list.IsCurrent()) break;
            // A broker that died cannot remove its list; what it left goes now.
            if (!BrokerLock::IsBrokerAlive(lockPath) && BrokerLock::RemoveIfStale(name)) break;
            if (settings.stopLimitMs != 0 && TickSince(begin) >= settings.stopLimitMs) break;
            // The broker may have been closing slot 0 when the request came,
            // and written the slot free over it: the request is made again.
            if (SlotState(first) != nsBrokerExit) SetSlotState(first, nsBrokerExit);
        }
        state.SetClosing();
        state.ClearKeepAlive();
        state.Starter().AwaitEnd(settings.reapWaitMs);
    } catch (...) {
    }
}

int32_t ZtifLastError() {
    return ClientIfState::Instance().LastError();
}

std::string ZtifLastErrorText() {
    try {
        return ClientIfState::Instance().LastErrorText();
    } catch (...) {
        return {};
    }
}

int32_t ZtifConnectionError(const ZTIF_CONNECTION* connection) {
    return connection != nullptr ? connection->lastError.load() : nleInvalidConnect;
}

void ZtifSetSettings(const ZtifSettings& settings) {
    ClientIfState::Instance().SetSettings(settings);
}

ZtifSettings ZtifGetSettings() {
    return ClientIfState::Instance().Settings();
}

void ZtifResetForTesting() {
    ClientIfState::Instance().Reset();
}

}  // namespace velmora
