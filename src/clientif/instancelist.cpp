#include "clientif/instancelist.h"

#include "clientif/brokerlock.h"

namespace velmora {

// Opened with the list's full size: an object that holds less is refused
// rather than mapped, so no slot can lie beyond its end.
InstanceList::InstanceList(const std::string& brokerName, const std::string& lockPath)
    : memory_(brokerName.c_str(), kInstanceListSize, false) {
    if (memory_.View() == nullptr) return;
    if (!lockPath.empty() && !BrokerLock::IsBrokerAlive(lockPath)) return;
    view_ = memory_.View();
}

int32_t InstanceList::CountInState(int32_t state) const {
    if (view_ == nullptr) return 0;
    int32_t count = 0;
    for (int32_t i = 0; i < kInstanceSlots; ++i) {
        if (SlotState(Slot(i)) == state) ++count;
    }
    return count;
}

}  // namespace velmora
