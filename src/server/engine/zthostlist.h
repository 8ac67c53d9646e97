// The server's record of one peer connection, one of the engine's host
// table. The router takes a free record for a connect request, the record's
// host manager completes, serves and finally releases it; application threads
// reach the connection only through the engine's Host* operations with it.
//
// Who writes what:
//   state, generation        router (take, marks), managers (complete,
//                            release), HostDisconnect and life checks (marks);
//                            transitions go through the engine, which uses
//                            compare-and-swap so that a mark never lands on a
//                            record that was released and taken again
//   identity fields          written under the engine's table lock at take and
//                            release; read by FindHost under it, by others
//                            while the record is in use
//   lists, sender            created at the first take, emptied at release,
//                            destroyed at Shutdown; each carries its own lock
//   manager-side fields      the record's host-manager thread only
//   receive assembly         the connection's consumer (HostReceive) only
//   counters                 atomics, written where noted, read by anyone
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "server/engine/waitsignal.h"
#include "transport/controlmessages.h"
#include "transport/framesender.h"
#include "transport/ztacks_list.h"
#include "transport/ztpacket_completelist.h"
#include "transport/ztpacket_inlist.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTS;
class ZTSERVERCLIENT_THREAD;

// Host states.
inline constexpr int32_t hsConnected = 0;
inline constexpr int32_t hsFree = 1;
inline constexpr int32_t hsDropping = 2;
inline constexpr int32_t hsConnecting = 3;

// Allocation of a record's lists.
inline constexpr uint32_t haNone = 0;   // never created (or destroyed at Shutdown)
inline constexpr uint32_t haKept = 1;   // kept, emptied, from an earlier connection
inline constexpr uint32_t haInUse = 2;  // in use by the current connection

class ZTHOSTLIST : public SenderEvents {
  public:
    explicit ZTHOSTLIST(ZTSERVER& engine);
    ~ZTHOSTLIST() override;
    ZTHOSTLIST(const ZTHOSTLIST&) = delete;
    ZTHOSTLIST& operator=(const ZTHOSTLIST&) = delete;

    int32_t State() const { return state_.load(); }
    // Counts takes; a mark or a wait that began under one generation does not
    // act on the next connection of the same record.
    uint32_t Generation() const { return generation_.load(); }
    uint32_t Allocation() const { return allocation_; }
    bool HasLists() const { return sender != nullptr; }

    // Identity of the connection.
    uint32_t address = 0;  // peer's IPv4 address (network order)
    uint16_t port = 0;     // source port of its connect request (network order)
    uint16_t ackPort = 0;  // where its acknowledgements go (network order)
    uint16_t connectionKey = 0;
    int32_t connectionType = 0;  // ctViewerSession or ctMemoryService
    uint8_t peerId[kPeerIdSize] = {};

    // Receiving and sending sides (created at the first take).
    std::unique_ptr<ZTACKS_LIST> dataAcks, controlAcks;
    std::unique_ptr<ZTPACKET_INLIST> dataInList, controlInList;
    std::unique_ptr<ZTPACKET_COMPLETELIST> dataCompleteList, controlCompleteList;
    // Pending frames, framesInFlight, both channel counters, the round-trip
    // estimator and the peer's pause flag; its own lock is the record's
    // sendLock.
    std::unique_ptr<FrameSender> sender;

    // The connection's application thread, or none.
    std::unique_ptr<ZTSERVERCLIENT_THREAD> thread;
    // The manager that serves the record (set when it is added).
    std::atomic<ZTHOSTS*> manager{nullptr};
    // Raised whenever data reaches dataCompleteList or the state changes;
    // HostReceive blocks on it.
    WaitSignal dataSignal;

    // Counters.
    std::atomic<uint32_t> sendTimeouts{0};      // HostSend waits that timed out
    std::atomic<uint32_t> txRate{0};            // bytes of the last closed send window
    std::atomic<uint32_t> rxRate{0};            // bytes of the last closed receive window
    std::atomic<uint64_t> bytesSent{0};         // 997 x framePackets per frame done
    std::atomic<uint64_t> bytesReceived{0};     // 997 per packet taken by HostReceive
    std::atomic<uint32_t> lastSendProgress{0};  // tick of the last frame done; 0 when taken
    std::atomic<uint32_t> lastReceive{0};       // tick of the last data packet routed
    std::atomic<uint32_t> rxWindowBytes{0};
    std::atomic<uint32_t> txWindowBytes{0};

    // Host-manager side.
    uint32_t lastLifeCheck = 0;
    uint32_t rxWindowStart = 0;
    uint32_t txWindowStart = 0;
    bool pauseSent = false;

    // HostReceive's message in progress, kept between calls: a call that runs
    // out of time in the middle of a message, or meets a noAck packet there,
    // parks the bytes it has in `parked`, and the next call goes on with them.
    struct ReceiveState {
        bool inMessage = false;
        bool discarding = false;  // the message exceeds the caller's buffer
        uint32_t total = 0;
        uint32_t offset = 0;
        std::vector<uint8_t> parked;
    } rx;

  private:
    friend class ZTSERVER;

    void CreateLists();
    void EmptyLists();
    void DestroyLists();

    // SenderEvents of the record's sender.
    void FrameSent(const ZTPacketFrame& frame) override;
    void FrameTimedOut() override;
    void AckBusy() override;
    void FrameDone(uint32_t bytes) override;

    ZTSERVER& engine_;
    std::atomic<int32_t> state_{hsFree};
    std::atomic<uint32_t> generation_{0};
    uint32_t allocation_ = haNone;
    // The application thread did not stop in time: the record waits, out of
    // every manager and invisible to FindHost, until the thread has left.
    std::atomic<bool> orphaned_{false};
};

}  // namespace velmora
