// The server's network engine: two UDP sockets on ports P (data) and P + 1
// (acknowledgements), the receive thread (this object's own thread), the
// packet router, the acknowledgement thread, the host table and the host
// managers that serve it. Peers (brokers) connect with ccConnect; the
// application exchanges whole messages with each of them through HostSend
// and HostReceive, in one of three modes (emNotify, emClientThread,
// emMasterThread).
//
// Calling order: construct, Open, set mode and callbacks, Start, use,
// Shutdown (also run by the destructor). One engine per process is the
// design; nothing here is global, so tests run several.
//
// Locks: tableLock_ guards the identity fields of the records for FindHost,
// the manager list and the manager count; it is a leaf (taken alone, or last,
// after a manager's lock). Each record's sender, lists and signals carry their
// own locks; a manager's lock comes before them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ztcritical_section.h"
#include "platform/ztthread.h"
#include "server/engine/enginesettings.h"
#include "server/engine/zthostlist.h"
#include "server/engine/ztserver_callbacks.h"
#include "transport/packetreceiver.h"
#include "transport/ztflatqueue.h"
#include "transport/ztudp.h"

namespace velmora {

class ZTACKSLISTEN;
class ZTHOSTS;
class ZTPACKETROUTER;
class ZTSERVERCLIENT_THREAD;
class ZTSERVERMASTER_THREAD;

// Engine modes.
inline constexpr int32_t emNotify = 0;
inline constexpr int32_t emClientThread = 1;
inline constexpr int32_t emMasterThread = 2;

class ZTSERVER : public ZTTHREAD {
  public:
    // Open results.
    static constexpr int32_t kOpened = 1;
    static constexpr int32_t kAlreadyRunning = 0;  // nothing done
    static constexpr int32_t kNoReceiveSocket = -1;
    static constexpr int32_t kBindFailed = -2;  // P or P + 1 taken (or P + 1 beyond 65535)
    static constexpr int32_t kNoSendSocket = -3;
    static constexpr int32_t kNoAddress = -5;  // the configured address is not an IPv4 address

    // HostSend and HostReceive results besides a length and 0.
    static constexpr int32_t kHostGone = -1;        // the host is not (or no longer) connected
    static constexpr int32_t kMessageTooLong = -2;  // HostReceive: longer than the buffer;
                                                    // the message was drained and discarded
    static constexpr int32_t kLengthMismatch = -3;  // HostReceive: lengths did not add up
    static constexpr int32_t kInvalidMessage = -4;  // HostSend: FrameSender::kInvalidMessage

    ZTSERVER(int32_t maxManagers, int32_t hostsPerManager, const EngineSettings& settings = {});
    ~ZTSERVER() override;
    ZTSERVER(const ZTSERVER&) = delete;
    ZTSERVER& operator=(const ZTSERVER&) = delete;

    // Binds the receive socket to (address, P) and the send socket to
    // (address, P + 1); address null or empty binds any address. Buffer sizes
    // are rounded down to multiples of 1024 and 28.
    [[nodiscard]] int32_t Open(const char* address, uint16_t port, uint32_t receiveBufferBytes,
                               uint32_t sendBufferBytes);
    // Starts the receive, router and acknowledgement threads (and the master
    // thread in emMasterThread). 1, or 0 when the engine is not open, already
    // started or shut down.
    [[nodiscard]] int32_t Start();

    // Queues a message on channel 0 or 1 of the host. The length; 0 when the
    // data channel has more than 100 frames in flight (nothing queued) or a
    // wait of waitMs ran out (the frames stay queued); kHostGone; or
    // kInvalidMessage. waitMs 0 or noAck 1 answers without waiting.
    [[nodiscard]] int32_t HostSend(ZTHOSTLIST& host, uint8_t channel, uint8_t noAck,
                                   const void* data, uint32_t length, uint32_t waitMs);
    // Rebuilds the next whole message of the host's data channel into buffer.
    // Its length; 0 when nothing came within waitMs (which bounds the wait for
    // the first packet and every gap between two); kHostGone; kMessageTooLong;
    // kLengthMismatch (the host is then sent ccDisconnect with reason -7).
    [[nodiscard]] int32_t HostReceive(ZTHOSTLIST& host, void* buffer, uint32_t capacity,
                                      uint32_t waitMs);
    // Sends ccDisconnect with the reason and waits for its acknowledgement; a
    // host that is not connected by then is marked for dropping.
    void HostDisconnect(ZTHOSTLIST& host, int32_t reason);
    // Dotted text of the host's address into text (at least 16 bytes).
    char* HostAddressText(const ZTHOSTLIST& host, char* text, size_t size) const;
    // The first record in table order that is in use with this address and
    // key, or null.
    ZTHOSTLIST* FindHost(uint32_t addressRaw, uint16_t connectionKey);
    // Stops everything in the designed order; a second call does nothing.
    void Shutdown();

    // Set between Open and Start.
    int32_t mode = emNotify;
    ZTSERVER_CALLBACKS callbacks;
    // Creates the thread of a connection of type ctMemoryService (the named
    // memory-block service), asked by the router when such a connect takes a
    // record; without it such connections complete with no thread.
    std::function<std::unique_ptr<ZTSERVERCLIENT_THREAD>(ZTHOSTLIST& host)>
        createMemoryServiceThread;

    // Counters and state for statistics (and tests).
    uint32_t QueueOverflows() const;
    uint32_t BadLength() const;
    uint32_t SendTimeouts() const { return sendTimeouts_.load(); }
    uint32_t ManagerCount() const { return managerCount_.load(); }
    int32_t MaxManagers() const { return maxManagers_; }
    int32_t TableSize() const { return tableSize_; }
    ZTHOSTLIST& Host(int32_t index) { return *hosts_[static_cast<size_t>(index)]; }
    ZTHOSTS* Manager(uint32_t index);
    ZTPACKETROUTER* Router() { return router_.get(); }
    ZTSERVERMASTER_THREAD* MasterThread() { return master_.get(); }
    const char* AddressText() const { return addressText_; }
    uint32_t LocalAddressRaw() const { return localAddress_; }
    uint16_t ReceivePortRaw() const { return receivePort_; }
    uint16_t SendPortRaw() const { return sendPort_; }
    bool Destroyed() const { return destroyed_.load(); }
    const EngineSettings& Settings() const { return settings_; }

  private:
    friend class ZTHOSTLIST;
    friend class ZTHOSTS;
    friend class ZTHOSTLIFECHECK;
    friend class ZTPACKETROUTER;

    static uint32_t ReceiveProc(void* self);
    void ReceiveLoop();
    void CloseSockets();

    // Records (ztserver_records.cpp).
    ZTHOSTLIST* Take(uint32_t addressRaw, uint16_t key, uint16_t portRaw, uint16_t ackPortRaw,
                     int32_t connectionType);
    // Answers false when the application thread did not stop in time: the
    // record then stays out of use until FinishOrphan succeeds.
    bool Release(ZTHOSTLIST& host, bool keepLists);
    bool FinishOrphan(ZTHOSTLIST& host, bool keepLists);
    void CompleteRelease(ZTHOSTLIST& host, bool keepLists);
    bool StopClientThread(ZTHOSTLIST& host);
    // State changes that only apply to the generation the caller saw.
    bool MarkDropping(ZTHOSTLIST& host, uint32_t generation);
    bool CompleteConnect(ZTHOSTLIST& host);
    ZTHOSTS* FindManagerWithRoom();
    ZTHOSTS* CreateManager();
    void SendAck(const ZTHOSTLIST& host, PACKETRETURN answer, const ZTPACKET_INLIST& inList);
    void Refuse(const PACKETRECEIVED& entry);
    void ReleaseAllAtShutdown();

    // HostSend for engine threads: a caller thread's stop request ends the
    // wait like a lost connection.
    int32_t SendOnHost(ZTHOSTLIST& host, uint8_t channel, uint8_t noAck, const void* data,
                       uint32_t length, uint32_t waitMs, const ZTTHREAD* caller);
    // HostReceive's packet step: a result to return, or 1 to go on.
    int32_t TakePacket(ZTHOSTLIST& host, const ZTPACKET& packet, uint8_t* out, uint32_t capacity);
    void ParkMessage(ZTHOSTLIST& host, const uint8_t* out);

    void Progress(const char* text, int32_t percent);

    const EngineSettings settings_;
    const int32_t maxManagers_;
    const int32_t hostsPerManager_;
    const int32_t tableSize_;

    ZTCRITICAL_SECTION tableLock_;
    ZTUDP udp_;
    std::unique_ptr<ZTFLATQUEUE> queue_;
    std::unique_ptr<PacketReceiver> receiver_;
    std::unique_ptr<ZTACKSLISTEN> acks_;
    std::unique_ptr<ZTPACKETROUTER> router_;
    std::unique_ptr<ZTSERVERMASTER_THREAD> master_;
    std::vector<std::unique_ptr<ZTHOSTS>> managers_;
    std::vector<std::unique_ptr<ZTHOSTLIST>> hosts_;
    std::atomic<uint32_t> managerCount_{0};

    std::atomic<bool> started_{false};
    std::atomic<bool> destroyed_{false};
    char addressText_[32] = {};
    std::atomic<uint32_t> sendTimeouts_{0};
    SocketHandle receiveSocket_;
    SocketHandle sendSocket_;
    uint32_t localAddress_ = 0;
    uint16_t receivePort_ = 0;
    uint16_t sendPort_ = 0;
};

}  // namespace velmora
