// ICMP echo check: whether a host still answers at the network level, asked
// by the broker's server life check before it ends a silent connection. It
// sends standard echo requests (not the transport's packets) and counts the
// replies.
//
// The socket is an unprivileged ICMP datagram socket where the system allows
// it (net.ipv4.ping_group_range), else a raw ICMP socket where the process
// may open one, else Ping answers kCannotOpen and the caller falls back to a
// transport message.
//
// Only an echo reply to the request just sent counts: a raw socket also
// receives every other ICMP datagram of the host (on loopback even our own
// request), which must not make a silent host look alive.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/byte_order.h"

namespace velmora {

// The 45-byte echo request.
struct ICMP_ECHO_REQUEST {
    uint8_t type;         // 8, echo request
    uint8_t code;         // 0
    LeU16 checksum;       // Internet checksum of the 45 bytes, this field 0 while computing
    LeU16 identifier;     // the process-wide counter
    LeU16 sequence;       // the same counter
    uint8_t zero;         // 0
    LeU32 tick;           // the sender's millisecond tick
    uint8_t pattern[32];  // 0x20, 0x21, ... 0x3F
};

static_assert(sizeof(ICMP_ECHO_REQUEST) == 45);
static_assert(alignof(ICMP_ECHO_REQUEST) == 1);
static_assert(offsetof(ICMP_ECHO_REQUEST, type) == 0);
static_assert(offsetof(ICMP_ECHO_REQUEST, code) == 1);
static_assert(offsetof(ICMP_ECHO_REQUEST, checksum) == 2);
static_assert(offsetof(ICMP_ECHO_REQUEST, identifier) == 4);
static_assert(offsetof(ICMP_ECHO_REQUEST, sequence) == 6);
static_assert(offsetof(ICMP_ECHO_REQUEST, zero) == 8);
static_assert(offsetof(ICMP_ECHO_REQUEST, tick) == 9);
static_assert(offsetof(ICMP_ECHO_REQUEST, pattern) == 13);

inline constexpr uint8_t kIcmpEchoRequest = 8;
inline constexpr uint8_t kIcmpEchoReply = 0;

// One ICMP socket, behind an interface so tests can put a silent or faulty
// network in its place.
class EchoSocket {
  public:
    virtual ~EchoSocket() = default;
    // Sends one request to the address (network order); false on failure.
    virtual bool Send(const void* data, size_t length, uint32_t addressRaw) = 0;
    // 1 readable, 0 nothing within waitMs, -1 the wait failed.
    virtual int WaitReadable(uint32_t waitMs) = 0;
    // One datagram into buffer: its length, or -1.
    virtual ssize_t Receive(uint8_t* buffer, size_t capacity) = 0;
    // 0, or -1 when closing failed.
    virtual int Close() = 0;
    // Raw sockets deliver the IPv4 header in front of the ICMP message.
    virtual bool CarriesIpHeader() const = 0;
    // Datagram sockets put their own identifier into requests (and receive
    // only the replies that carry it).
    virtual bool KernelSetsIdentifier() const = 0;
};

using EchoSocketOpener = std::function<std::unique_ptr<EchoSocket>()>;

// The system's ICMP socket: datagram, else raw, else null.
std::unique_ptr<EchoSocket> OpenSystemEchoSocket();

// The identifier and sequence counter. Both start at 1 and step by one per
// request; one counter serves the whole process.
class EchoCounter {
  public:
    uint16_t Next() { return next_.fetch_add(1, std::memory_order_relaxed); }
    static EchoCounter& Process();

  private:
    std::atomic<uint16_t> next_{1};
};

class ZTPING {
  public:
    static constexpr int32_t kAllReplied = 1;
    static constexpr int32_t kCannotOpen = -1;
    static constexpr int32_t kCloseFailed = -3;
    static constexpr int32_t kNoReply = -4;  // at least one request got no reply

    static constexpr uint32_t kReplyWaitMs = 1000;
    static constexpr size_t kReplyBufferSize = 321;  // IP header included

    explicit ZTPING(EchoSocketOpener opener = OpenSystemEchoSocket,
                    EchoCounter& counter = EchoCounter::Process());

    // Sends count requests to the address (network order), each followed by
    // a sleep of waitMs and a wait of at most 1 s for its reply. Answers
    // kAllReplied, kNoReply, kCannotOpen or kCloseFailed.
    [[nodiscard]] int32_t Ping(uint32_t addressRaw, uint32_t count, uint32_t waitMs);

    // The request with this identifier/sequence and tick, checksum filled in.
    static ICMP_ECHO_REQUEST BuildRequest(uint16_t number, uint32_t tick);

    // Internet checksum: 16-bit little-endian words summed, an odd last byte
    // added on its own, carries folded twice, the result complemented.
    static uint16_t Checksum(const uint8_t* data, size_t length);

    // True when the datagram is the echo reply to request `number`.
    static bool IsReplyTo(const uint8_t* datagram, size_t length, uint16_t number,
                          bool carriesIpHeader, bool kernelSetsIdentifier);

  private:
    // Waits up to kReplyWaitMs for the reply to `number`: 1 it came, 0 it
    // did not, -1 the wait failed.
    int AwaitReply(EchoSocket& socket, uint16_t number);

    EchoSocketOpener opener_;
    EchoCounter& counter_;
};

}  // namespace velmora
