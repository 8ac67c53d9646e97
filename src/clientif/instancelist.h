// An application's view of a broker's instance list.
//
// Whether the list is reachable is asked by name at every call of the
// library, as a list that can no longer be opened is how an application
// learns its broker has gone. Given the broker's lock path, a list whose
// broker no longer holds its lifetime lock counts as gone too: a broker that
// was killed leaves its shared memory behind, and the list alone would look
// alive for ever.
//
// A connection keeps its view mapped and asks IsCurrent() at each call: the
// name still opens the very object mapped here, and its broker lives. That
// costs a few system calls, where mapping and unmapping the list at every
// call would cost a cross-processor TLB flush in a program with several
// threads.
//
// Lock: none; the slots are shared with other processes (see
// ztinstance_slot.h for how their fields are read and written).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "clientif/ztinstance_slot.h"

namespace velmora {

class InstanceList {
  public:
    // Maps the list of `brokerName`; with a non-empty lockPath only while
    // its broker is alive. An object smaller than a whole list is refused.
    InstanceList(const std::string& brokerName, const std::string& lockPath);
    ~InstanceList();
    InstanceList(const InstanceList&) = delete;
    InstanceList& operator=(const InstanceList&) = delete;

    bool IsOpen() const { return view_ != nullptr; }
    // Whether the name still opens the object mapped here and (with a lock
    // path) its broker lives.
    bool IsCurrent() const;
    // The caller checks 0 <= index < kInstanceSlots.
    ZTINSTANCE_SLOT& Slot(int32_t index) const { return SlotAt(view_, index); }
    int32_t CountInState(int32_t state) const;
    const std::string& LastError() const { return error_; }

  private:
    std::string objectName_;
    std::string lockPath_;
    uint8_t* view_ = nullptr;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::string error_;
};

}  // namespace velmora
