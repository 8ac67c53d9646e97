// The handle the library gives an application for one connection. It is
// owned by the library: the application frees it only through
// ZtifDisconnect. Its layout matters only inside one process.
//
// Lock: none. One thread receives on a connection and sends are serialised
// by the caller; lastError is atomic because the receiving and the sending
// thread both write it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "clientif/instancelist.h"
#include "clientif/sharedqueue.h"
#include "clientif/ztinstance_slot.h"
#include "platform/ztmutex.h"
#include "platform/ztshared_memory.h"

namespace velmora {

struct ZTIF_CONNECTION {
    char brokerName[kBrokerNameField] = {};  // N, NUL-terminated
    int32_t slotIndex = -1;
    int32_t connectionKey = 0;                       // read from the slot at connect
    std::atomic<int32_t> lastError{0};               // nle*; 0 after a successful call
    std::unique_ptr<ZTSHARED_MEMORY> receiveMemory;  // "%sR%d"
    std::unique_ptr<ZTSHARED_MEMORY> sendMemory;     // "%sS%d"

    // Kept for the connection's life rather than opened at every call; each
    // call asks list->IsCurrent() before it looks at the slot.
    std::unique_ptr<InstanceList> list;
    ZTMUTEX receiveLock;  // "%sRM%d"
    ZTMUTEX sendLock;     // "%sSM%d"
    ReceiveQueue receiveQueue;
    SendQueue sendQueue;
    std::string lockPath;  // the broker's lifetime lock file
};

}  // namespace velmora
