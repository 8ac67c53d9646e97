#include "clientif/ztinstance_slot.h"

#include <cstring>

namespace velmora {

void ResetSlot(ZTINSTANCE_SLOT& slot) {
    // Everything after the state field first, then the state: an application
    // that sees the slot free never sees the old contents.
    std::memset(reinterpret_cast<uint8_t*>(&slot) + sizeof(slot.state), 0,
                sizeof(slot) - sizeof(slot.state));
    slot.errorCode = nleInvalidConnect;
    SetSlotState(slot, nsNotUse);
}

}  // namespace velmora
