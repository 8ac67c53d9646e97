#include "broker/ztclient.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "broker/ztacksclientlisten.h"
#include "broker/ztclientpacketrouter.h"
#include "clientif/brokernames.h"
#include "platform/tick.h"
#include "transport/controlmessages.h"
#include "transport/packetreceiver.h"

namespace velmora {
namespace {

// Binds to (address, a port the system picks); address reuse stays off.
bool BindAny(int socket, uint32_t addressRaw) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = addressRaw;
    return bind(socket, reinterpret_cast<const sockaddr*>(&at), sizeof(at)) == 0;
}

}  // namespace

ZTCLIENT::ZTCLIENT(const char* brokerName, const BrokerSettings& settings)
    : name_(brokerName != nullptr ? brokerName : ""),
      settings_(settings),
      lists_(new SlotLists[kInstanceSlots]),
      slots_(new SlotHolder[kInstanceSlots]),
      ownAddress_(new std::atomic<uint32_t>[kInstanceSlots]()) {
    threadProc = &ZTCLIENT::ReceiveProc;
    // The lifetime lock first: a second broker of the same name must leave
    // the first one's instance list alone. Acquire writes every slot free.
    if (lock_.Acquire(name_.c_str()) != BrokerLock::kAcquired) {
        listError_ = lock_.LastError();
        return;
    }
    (void)listLock_.Create(InstanceListLockName(name_).c_str());
}

ZTCLIENT::~ZTCLIENT() {
    Shutdown();
}

void ZTCLIENT::Log(const char* text, bool critical) {
    log_.Write(critical ? 1 : 0, text != nullptr ? text : "");
}

void ZTCLIENT::Logf(bool critical, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    Log(text, critical);
}

int32_t ZTCLIENT::Open(uint32_t receiveBytes, uint32_t sendBytes) {
    if (!HasInstanceList()) {
        openError_ = "no instance list: " + listError_;
        Log("초기화:Instance List 버퍼가 초기화되지 않았습니다.", true);
        return kNoInstanceList;
    }
    if (engineRunning_.load() || shutDown_.load()) {
        openError_ = "the engine runs already";
        Log("초기화:ZTBROKER가 이미 동작중입니다.", true);
        return kAlreadyRunning;
    }
    receiveBytes_ = receiveBytes;
    sendBytes_ = sendBytes;
    const int32_t opened = OpenSockets(receiveBytes, sendBytes);
    if (opened != kStarted) return opened;
    Log("초기화:ZTCLIENT 초기화에 성공했습니다.", false);
    return Start();
}

int32_t ZTCLIENT::OpenSockets(uint32_t receiveBytes, uint32_t sendBytes) {
    SocketHandle data(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!data.Valid()) {
        openError_ = std::string("the data socket cannot be made: ") + std::strerror(errno);
        return kDataSocketFailed;
    }
    if (!BindAny(data.Get(), settings_.bindAddressRaw)) {
        openError_ = std::string("the data socket cannot be bound: ") + std::strerror(errno);
        Log("초기화:ZTCLIENT 듣기용 소켓을 Bind할 수 없습니다.", true);
        return kBindFailed;
    }
    (void)SetReceiveBuffer(data.Get(), receiveBytes, kPacketSize);
    SocketHandle ack(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!ack.Valid()) {
        openError_ =
            std::string("the acknowledgement socket cannot be made: ") + std::strerror(errno);
        return kAckSocketFailed;
    }
    if (!BindAny(ack.Get(), settings_.bindAddressRaw)) {
        openError_ =
            std::string("the acknowledgement socket cannot be bound: ") + std::strerror(errno);
        Log("초기화:ZTCLIENT ACKS수신용 소켓을 Bind할 수 없습니다.", true);
        return kBindFailed;
    }
    (void)SetSendBuffer(ack.Get(), sendBytes, kPacketReturnSize);
    ackPortRaw_ = BoundPortRaw(ack.Get());
    dataSocket_ = std::move(data);
    ackSocket_ = std::move(ack);
    return kStarted;
}

int32_t ZTCLIENT::Start() {
    if (engineRunning_.load() || ackListener_) {
        Log("ZTBROKER: 서비스를  이미 시작 했습니다.", false);
        return kAlreadyStarted;
    }
    ackListener_ = std::make_unique<ZTACKSCLIENTLISTEN>(*this, ackSocket_.Get());
    router_ = std::make_unique<ZTCLIENTPACKETROUTER>(*this);
    ackListener_->Run(true);
    router_->Run(true);
    Run(true);
    for (ZTTHREAD* t : {static_cast<ZTTHREAD*>(ackListener_.get()),
                        static_cast<ZTTHREAD*>(router_.get()), static_cast<ZTTHREAD*>(this)})
        t->SetNice(-10);  // best effort: only with the right to raise priority
    SleepMs(settings_.startSettleMs);
    engineRunning_.store(true);
    Log("ZTBROKER:서비스를 시작 했습니다.", false);
    return kStarted;
}

uint32_t ZTCLIENT::ReceiveProc(void* self) {
    static_cast<ZTCLIENT*>(self)->ReceiveLoop();
    return 0;
}

void ZTCLIENT::ReceiveLoop() {
    PacketReceiver::Hooks hooks;
    hooks.receiveError = [this](int error) {
        Logf(true, "Broker Listen Down WSAGetLastError = %ld", static_cast<long>(error));
    };
    hooks.overflow = [this](uint32_t drops) {
        overflows_.store(drops);
        Logf(true, "수신버퍼 넘침-팻킷버림(횟수:%d)", static_cast<int>(drops));
    };
    PacketReceiver receiver(dataSocket_.Get(), queue_, std::move(hooks));
    BeginLoop();
    while (!StopRequested()) {
        // A failed wait is retried after a pause, so a broken socket cannot
        // turn the loop into a spin.
        if (receiver.ReceiveOnce(settings_.socketWaitMs) < 0) SleepMs(1);
    }
    EndLoop();
}

void ZTCLIENT::QueueDisconnects() {
    const CONTROL_DISCONNECT bye = MakeDisconnect(0);
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        ZTINSTANCE_SLOT& slot = Slot(i);
        const int32_t state = SlotState(slot);
        if (state != nsConnected && state != nsConnecting && state != nsDisConnected) continue;
        if (!WithConnection(i, [](ZTCLIENTINSTANCE&) {})) continue;
        SetSlotState(slot, nsDisConnecting);
        (void)SendControl(i, kControlChannel, 0, sizeof(bye), &bye, 0);
    }
}

void ZTCLIENT::Shutdown() {
    if (shutDown_.exchange(true)) return;
    const bool wasRunning = engineRunning_.load();
    if (wasRunning && HasInstanceList()) QueueDisconnects();
    RequestStop();
    (void)StopAndWait(1);
    if (router_) router_->Stop();
    if (ackListener_) ackListener_->Stop();
    // The connection threads still run: the disconnect messages go out.
    if (wasRunning) SleepMs(settings_.shutdownSettleMs);
    engineRunning_.store(false);
    if (HasInstanceList()) {
        for (int32_t i = 0; i < kInstanceSlots; ++i) {
            bool has = false;
            {
                std::lock_guard<std::mutex> guard(slots_[i].useLock);
                has = slots_[i].connection != nullptr;
            }
            if (has) {
                ReleaseSlot(i, false);
                SetSlotState(Slot(i), nsNotUse);
            }
        }
    }
    router_.reset();
    ackListener_.reset();
    lock_.Release();  // removes the instance list: applications learn the broker has gone
    CloseSockets();
}

void ZTCLIENT::CloseSockets() {
    dataSocket_.Close();
    ackSocket_.Close();
}

uint16_t ZTCLIENT::DataPortRaw() const {
    return BoundPortRaw(dataSocket_.Get());
}

bool ZTCLIENT::ReserveKeptSlot() {
    std::lock_guard<std::mutex> guard(keptLock_);
    if (keptSlots_ >= settings_.maxKeptSlots) return false;
    ++keptSlots_;
    return true;
}

void ZTCLIENT::ReturnKeptSlot() {
    std::lock_guard<std::mutex> guard(keptLock_);
    if (keptSlots_ > 0) --keptSlots_;
}

int32_t ZTCLIENT::KeptSlots() {
    std::lock_guard<std::mutex> guard(keptLock_);
    return keptSlots_;
}

void ZTCLIENT::WakeConnection(int32_t index) {
    (void)WithConnection(index, [](ZTCLIENTINSTANCE& c) { c.Wake(); });
}

void ZTCLIENT::CountUnknownPacket() {
    unknownPackets_.fetch_add(1);
    CallStatusHook(statusHooks_.onPacketDropped);
}

ZTCLIENT::Figures ZTCLIENT::Statistics() {
    Figures f;
    if (HasInstanceList()) {
        for (int32_t i = 0; i < kInstanceSlots; ++i) {
            if (SlotState(Slot(i)) != nsConnected) continue;
            ++f.connections;
            (void)WithConnection(i, [&f](ZTCLIENTINSTANCE& c) {
                f.sendRate += c.SendRate();
                f.receiveRate += c.ReceiveRate();
                f.framesWaiting += c.FramesWaiting();
            });
        }
    }
    f.connectionCount = connectionCount_.load();
    f.overflows = overflows_.load();
    f.unknownPackets = unknownPackets_.load();
    f.cacheHits = cacheHits_.load();
    f.keptSlots = KeptSlots();
    f.routerReceiveRate = receiveRate_.load();
    f.queued = queue_.Count();
    return f;
}

}  // namespace velmora
