#include "server/engine/ztserver.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/tick.h"
#include "server/engine/localaddress.h"
#include "server/engine/ztackslisten.h"
#include "server/engine/zthosts.h"
#include "server/engine/ztpacketrouter.h"
#include "server/engine/ztserverclient_thread.h"
#include "server/engine/ztservermaster_thread.h"

namespace velmora {

namespace {

// Best-effort nice value of the threads the design runs at the highest
// priority; without the right to raise it nothing changes.
constexpr int kHighestNice = -10;

// A datagram socket bound to (address, port); -1 when it cannot be created,
// -2 when it cannot be bound (the socket is closed again).
int OpenBound(uint32_t addressRaw, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addressRaw;
    sin.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0) {
        close(fd);
        return -2;
    }
    return fd;
}

}  // namespace

ZTSERVER::ZTSERVER(int32_t maxManagers, int32_t hostsPerManager, const EngineSettings& settings)
    : settings_(settings),
      maxManagers_(maxManagers > 0 ? maxManagers : 0),
      hostsPerManager_(hostsPerManager > 0 ? hostsPerManager : 0),
      tableSize_(maxManagers_ * hostsPerManager_),
      queue_(std::make_unique<ZTFLATQUEUE>(settings.receiveQueueCapacity)) {
    threadProc = &ZTSERVER::ReceiveProc;
    router_ = std::make_unique<ZTPACKETROUTER>(*queue_, *this);
    hosts_.reserve(static_cast<size_t>(tableSize_));
    for (int32_t i = 0; i < tableSize_; ++i) hosts_.push_back(std::make_unique<ZTHOSTLIST>(*this));
}

ZTSERVER::~ZTSERVER() {
    Shutdown();
}

int32_t ZTSERVER::Open(const char* address, uint16_t port, uint32_t receiveBufferBytes,
                       uint32_t sendBufferBytes) {
    if (started_.load() || destroyed_.load()) return kAlreadyRunning;
    CloseSockets();
    uint32_t bindAddress = htonl(INADDR_ANY);
    if (address != nullptr && address[0] != '\0') {
        if (!ParseAddress(address, bindAddress)) return kNoAddress;
        localAddress_ = bindAddress;
    } else {
        localAddress_ = FirstReachableAddress();
    }
    AddressToText(localAddress_, addressText_, sizeof(addressText_));
    // P + 1 must exist; port 0 would let the system pick unrelated ports.
    if (port == 0 || port == UINT16_MAX) return kBindFailed;
    receivePort_ = htons(port);
    sendPort_ = htons(static_cast<uint16_t>(port + 1));

    const int receive = OpenBound(bindAddress, port);
    if (receive < 0) return receive == -1 ? kNoReceiveSocket : kBindFailed;
    receiveSocket_ = SocketHandle(receive);
    (void)SetReceiveBuffer(receive, receiveBufferBytes, kPacketSize);

    const int send = OpenBound(bindAddress, static_cast<uint16_t>(port + 1));
    if (send == -1) return kNoSendSocket;
    if (send < 0) {
        receiveSocket_.Close();
        return kBindFailed;
    }
    sendSocket_ = SocketHandle(send);
    (void)SetSendBuffer(send, sendBufferBytes, kPacketReturnSize);

    PacketReceiver::Hooks hooks;
    hooks.rawPacket = [this](const ZTPACKET& packet) { Guarded(callbacks.OnReceive, packet); };
    receiver_ = std::make_unique<PacketReceiver>(receive, *queue_, std::move(hooks));
    return kOpened;
}

void ZTSERVER::CloseSockets() {
    receiveSocket_.Close();
    sendSocket_.Close();
}

int32_t ZTSERVER::Start() {
    if (started_.load() || destroyed_.load() || !receiveSocket_.Valid() || !sendSocket_.Valid())
        return 0;
    started_.store(true);
    Run(true);
    SetNice(kHighestNice);
    router_->Run(true);
    router_->SetNice(kHighestNice);
    acks_ = std::make_unique<ZTACKSLISTEN>(sendSocket_.Get(), *this, settings_.threadWaitMs);
    acks_->Run(true);
    if (mode == emMasterThread) {
        try {
            if (callbacks.OnCreateMasterThread) master_ = callbacks.OnCreateMasterThread(*this);
        } catch (...) {
            master_.reset();
        }
        if (!master_) master_ = std::make_unique<ZTSERVERMASTER_THREAD>();
        master_->engine_.store(this);
        master_->Run(true);
    }
    return 1;
}

uint32_t ZTSERVER::ReceiveProc(void* parameter) {
    static_cast<ZTSERVER*>(static_cast<ZTTHREAD*>(parameter))->ReceiveLoop();
    return 0;
}

void ZTSERVER::ReceiveLoop() {
    BeginLoop();
    while (!StopRequested()) {
        // A socket error is retried; the pause keeps a broken socket from
        // turning the loop into a spin.
        if (receiver_->ReceiveOnce(settings_.threadWaitMs) < 0) SleepMs(1);
    }
    EndLoop();
}

uint32_t ZTSERVER::QueueOverflows() const {
    return receiver_ ? receiver_->Counters().overflows.load() : 0;
}

uint32_t ZTSERVER::BadLength() const {
    return receiver_ ? receiver_->Counters().badLength.load() : 0;
}

ZTHOSTS* ZTSERVER::Manager(uint32_t index) {
    CsGuard guard(tableLock_);
    return index < managers_.size() ? managers_[index].get() : nullptr;
}

ZTHOSTLIST* ZTSERVER::FindHost(uint32_t addressRaw, uint16_t connectionKey) {
    CsGuard guard(tableLock_);
    for (const auto& host : hosts_) {
        if (host->State() == hsFree || host->orphaned_.load()) continue;
        if (host->address == addressRaw && host->connectionKey == connectionKey) return host.get();
    }
    return nullptr;
}

void ZTSERVER::Progress(const char* text, int32_t percent) {
    Guarded(callbacks.OnShutdownProgress, text, percent);
}

void ZTSERVER::Shutdown() {
    if (destroyed_.load()) return;
    Guarded(callbacks.OnDestroy);

    Progress("Main Receive Thread Shutdown", 0);
    (void)StopAndWait(1);

    Progress("Main Packet Router Thread Shutdown", 20);
    if (router_) (void)router_->StopAndWait(1);

    Progress("Host Manager Thread Shutdown", 40);
    for (;;) {
        std::unique_ptr<ZTHOSTS> manager;
        {
            CsGuard guard(tableLock_);
            if (managers_.empty()) break;
            manager = std::move(managers_.front());
            managers_.erase(managers_.begin());
        }
        manager->Stop();
    }
    if (master_) {
        // Note: as designed, no time limit; Execute must honour the stop.
        (void)master_->StopAndWait(1);
        try {
            master_->ThreadFinish();
        } catch (...) {
        }
        master_.reset();
    }

    Progress("Acks Listen Thread Shutdown", 60);
    if (acks_) (void)acks_->StopAndWait(1);
    router_.reset();
    acks_.reset();
    queue_.reset();

    ReleaseAllAtShutdown();

    Progress("Close Sockets", 80);
    CloseSockets();

    Progress("Destory Success", 100);
    destroyed_.store(true);
}

}  // namespace velmora
