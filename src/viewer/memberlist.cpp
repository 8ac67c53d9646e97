#include "viewer/memberlist.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace velmora {

bool MemberList::Replace(const MEMBER_ENTRY* entries, int count) {
    std::vector<MEMBER_ENTRY> copy;
    if (count > 0) {
        try {
            copy.assign(entries, entries + count);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    entries_.swap(copy);
    return true;
}

void MemberList::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.clear();
}

int MemberList::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(entries_.size());
}

int MemberList::Copy(MEMBER_ENTRY* out, int capacity) const {
    std::lock_guard<std::mutex> guard(lock_);
    const int n = std::min(capacity, static_cast<int>(entries_.size()));
    if (n <= 0) return 0;
    std::memcpy(out, entries_.data(), sizeof(MEMBER_ENTRY) * static_cast<size_t>(n));
    return n;
}

std::vector<MemberList::Member> MemberList::Members() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Member> members;
    members.reserve(entries_.size());
    for (const MEMBER_ENTRY& entry : entries_) {
        members.push_back({std::string(FieldText(entry.name)), entry.control == 1});
    }
    return members;
}

}  // namespace velmora
