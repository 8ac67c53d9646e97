// An application's look at a broker's instance list, opened for one call and
// closed again, as every operation of the library does: a list that cannot
// be opened is how an application learns its broker has gone.
//
// Given the broker's lock path, a list whose broker no longer holds its
// lifetime lock counts as gone too: a broker that was killed leaves its
// shared memory behind, and the list alone would look alive forever.
//
// Lock: none; the slots are shared with other processes (see
// ztinstance_slot.h for how their fields are read and written).
#pragma once

#include <cstdint>
#include <string>

#include "clientif/ztinstance_slot.h"
#include "platform/ztshared_memory.h"

namespace velmora {

class InstanceList {
  public:
    // Opens the list of `brokerName`; with a non-empty lockPath only while
    // its broker is alive.
    InstanceList(const std::string& brokerName, const std::string& lockPath);

    bool IsOpen() const { return view_ != nullptr; }
    // The caller checks 0 <= index < kInstanceSlots.
    ZTINSTANCE_SLOT& Slot(int32_t index) const { return SlotAt(view_, index); }
    int32_t CountInState(int32_t state) const;
    const std::string& LastError() const { return memory_.LastError(); }

  private:
    ZTSHARED_MEMORY memory_;
    uint8_t* view_ = nullptr;
};

}  // namespace velmora
