// Named mutexes outlive their users by design (create-or-open, never
// removed); the tests remove the ones of their broker names so that runs do
// not pile them up.
#pragma once

#include <sys/mman.h>

#include <string>

#include "clientif/brokernames.h"
#include "clientif/ztinstance_slot.h"
#include "platform/shared_name.h"

namespace velmora::test {

inline void RemoveNamedMutexes(const std::string& name) {
    auto remove = [](const std::string& mutexName) {
        const std::string object = SharedMutexObjectName(mutexName);
        if (!object.empty()) shm_unlink(object.c_str());
    };
    remove(InstanceListLockName(name));
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        remove(ReceiveQueueLockName(name, i));
        remove(SendQueueLockName(name, i));
    }
}

}  // namespace velmora::test
