// The packets a receiver has handed on in order, waiting for the consumer of
// the connection: a FIFO of owned 1024-byte packets.
//
// Lock: lock_ guards packets_; it comes after the in-list's lock (the in-list
// appends while holding its own) and is a leaf otherwise. count_ is readable
// without the lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "platform/ztcritical_section.h"
#include "transport/ztpacket.h"

namespace velmora {

class ZTPACKET_COMPLETELIST {
  public:
    ZTPACKET_COMPLETELIST() = default;
    ~ZTPACKET_COMPLETELIST() { Clear(); }
    ZTPACKET_COMPLETELIST(const ZTPACKET_COMPLETELIST&) = delete;
    ZTPACKET_COMPLETELIST& operator=(const ZTPACKET_COMPLETELIST&) = delete;

    // Takes ownership of one packet and appends it.
    void Add(std::unique_ptr<ZTPACKET> packet);
    // The oldest packet, removed, or null. Empty: answers without the lock.
    std::unique_ptr<ZTPACKET> Get();
    void Clear();

    uint32_t Count() const { return count_.load(); }

  private:
    ZTCRITICAL_SECTION lock_;
    std::deque<std::unique_ptr<ZTPACKET>> packets_;
    std::atomic<uint32_t> count_{0};
};

}  // namespace velmora
