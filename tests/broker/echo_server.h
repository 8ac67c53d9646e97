// A real server engine whose connections' application threads echo every
// message they receive, for the end-to-end tests and benchmarks of the
// broker. It listens on 127.0.0.1 at a free pair of ports P, P + 1; a lossy
// relay pair in front of it (R, R + 1) impairs what the broker sends and
// what the server sends back.
//
// Lock: none of its own; the engine locks itself.
#pragma once

#include <cstdint>
#include <memory>

#include "server/engine/ztserver.h"
#include "support/lossyrelay.h"

namespace velmora::test {

class EchoServer {
  public:
    EchoServer();
    ~EchoServer();

    // Opens the engine on free ports and starts it; with an impairment, puts
    // a relay pair in front. False when a port or the relay cannot be had.
    bool Start(const Impairment* link = nullptr, uint64_t seed = 1);
    void Stop();

    // The port P (host order) applications should be told: the relay's when
    // there is one.
    uint16_t Port() const { return port_; }
    ZTSERVER& Engine() { return *engine_; }
    LossyRelay* Relay() { return relay_.get(); }

    // Sends ccDisconnect to every connected broker and drops the connections.
    void DisconnectAll();
    // Messages echoed so far.
    uint64_t Echoed() const;

  private:
    std::unique_ptr<ZTSERVER> engine_;
    std::unique_ptr<LossyRelay> relay_;
    uint16_t port_ = 0;
};

}  // namespace velmora::test
