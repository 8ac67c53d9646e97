// What a connection thread calls to move data between its connection and
// the application, and to give up the connection: the instance manager's
// delivery, taking and error routines. The set-up thread hands them to a
// connection once it is connected; before that the thread neither delivers
// nor takes.
#pragma once

#include <cstdint>

#include "transport/ztpacket.h"

namespace velmora {

class ZTCLIENTINSTANCE;

class ConnectionHooks {
  public:
    virtual ~ConnectionHooks() = default;

    // One data packet of a completed frame, in order. 1 = delivered (or
    // dropped because the connection is no longer up), -1 = close the
    // connection.
    virtual int32_t Deliver(ZTCLIENTINSTANCE& connection, const ZTPACKET& packet) = 0;

    // Takes what the application queued, as far as one message needs.
    // 1 = more records wait, 0 = nothing (more) to take, -1 = close.
    virtual int32_t Take(ZTCLIENTINSTANCE& connection) = 0;

    // The connection is to be closed: a connected slot becomes nsDisConnected.
    virtual void Error(ZTCLIENTINSTANCE& connection) = 0;
};

}  // namespace velmora
