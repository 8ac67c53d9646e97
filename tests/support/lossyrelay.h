// A loopback UDP relay that impairs traffic: seeded drop, duplication,
// reordering and delay, per link and direction. It sits between any two UDP
// endpoints (data sockets, acknowledgement sockets, whole engines).
//
// Use:
//   LossyRelay relay(/*seed=*/42);
//   Impairment lossy;  lossy.drop = 0.05;  lossy.duplicate = 0.01;  lossy.reorder = 0.02;
//   uint16_t toB = relay.AddLink(LoopbackAddressRaw(), bDataPort, lossy);
//   relay.Start();
//   // A sends to 127.0.0.1:toB instead of to B's port.
//
// A link is one relay socket on 127.0.0.1 forwarding to one target. Every
// datagram from anyone but the target goes to the target (with the link's
// toTarget impairment) and makes its source the link's client; datagrams from
// the target go back to that client (fromTarget impairment). So a link serves
// one-way forwarding (peers that are told where to send) as well as a proxy
// for a request/answer pair such as an engine's data port. AddLinkPair binds
// two consecutive relay ports, for a peer that always answers on port P + 1.
//
// Reordering holds a datagram back until the next datagram of the same link
// and direction has passed it (or holdMs at the latest); duplication sends a
// second copy right after the first. Decisions come from one seeded generator,
// so a run is repeatable up to thread timing. Sockets, links and impairments
// are fixed before Start, except SetImpairment, which may be called any time.
//
// Lock: mutex_ guards the impairments and the statistics; one relay thread
// owns the sockets and the held datagrams.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "platform/ztthread.h"
#include "transport/ztudp.h"

namespace velmora {

struct Impairment {
    double drop = 0.0;       // probability that a datagram is lost
    double duplicate = 0.0;  // probability that it is delivered twice
    double reorder = 0.0;    // probability that the next datagram overtakes it
    uint32_t delayMs = 0;    // fixed delay of every datagram
    uint32_t jitterMs = 0;   // extra delay drawn from 0..jitterMs (also reorders)
    uint32_t holdMs = 5;     // longest time a reordered datagram waits for the next
};

struct RelayStats {
    uint64_t received = 0;
    uint64_t forwarded = 0;
    uint64_t dropped = 0;
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
};

class LossyRelay {
  public:
    explicit LossyRelay(uint64_t seed);
    ~LossyRelay();
    LossyRelay(const LossyRelay&) = delete;
    LossyRelay& operator=(const LossyRelay&) = delete;

    // Adds a link to (address, port), both network order; answers the relay
    // port in network order, or 0 when no socket could be bound.
    uint16_t AddLink(uint32_t targetAddressRaw, uint16_t targetPortRaw, const Impairment& toTarget,
                     const Impairment& fromTarget = {});

    // Two links on relay ports R and R + 1 to (address, port) and
    // (address, port2); answers R in network order, or 0.
    uint16_t AddLinkPair(uint32_t targetAddressRaw, uint16_t targetPortRaw, uint16_t targetPort2Raw,
                         const Impairment& toTarget, const Impairment& fromTarget = {});

    // Changes the impairment of every link (index -1) or of one link, both
    // directions.
    void SetImpairment(int link, const Impairment& toTarget, const Impairment& fromTarget);

    bool Start();
    void Stop();
    RelayStats Stats();

  private:
    struct Datagram;
    struct Direction;
    struct Link;
    class Worker;

    int AddLinkOn(uint16_t relayPortRaw, uint32_t targetAddressRaw, uint16_t targetPortRaw,
                  const Impairment& toTarget, const Impairment& fromTarget);
    void Loop();
    void Receive(Link& link);
    void Forward(Link& link, bool toTarget, const uint8_t* data, size_t length, uint64_t nowUs);
    static bool Later(const Datagram& a, const Datagram& b);
    void Emit(Datagram&& d);
    void SendNow(const Datagram& d);
    void ReleaseDue(uint64_t nowUs);
    int NextTimeoutMs(uint64_t nowUs) const;

    std::mutex mutex_;
    std::mt19937_64 rng_;
    RelayStats stats_;
    std::vector<std::unique_ptr<Link>> links_;
    std::vector<Datagram> delayed_;  // a heap ordered by release time
    uint64_t order_ = 0;
    std::unique_ptr<Worker> worker_;
};

}  // namespace velmora
