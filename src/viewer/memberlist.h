// The meeting's participants as the server last listed them: copies of the
// 31-byte MEMBER_ENTRY records of the last MEMBER_LIST. The view thread
// replaces the list; the main window's timer reads it.
//
// Lock: lock_ guards entries_; a leaf lock (nothing is called with it held).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "server/screen/appmessages.h"

namespace velmora {

class MemberList {
  public:
    // Replaces the list with copies of `count` entries; false (list
    // unchanged) when the memory cannot be had.
    bool Replace(const MEMBER_ENTRY* entries, int count);
    void Clear();

    int Count() const;
    // Copies at most `capacity` entries into `out`; returns how many.
    int Copy(MEMBER_ENTRY* out, int capacity) const;

    struct Member {
        std::string name;  // empty for a session still logging on
        bool holdsControl = false;
    };
    std::vector<Member> Members() const;

  private:
    mutable std::mutex lock_;
    std::vector<MEMBER_ENTRY> entries_;
};

}  // namespace velmora
