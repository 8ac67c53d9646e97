#include "transport/ztacks_list.h"

namespace velmora {

int32_t ZTACKS_LIST::Add(const PACKETRETURN& record) {
    CsGuard guard(lock_);
    if (records_.size() >= static_cast<size_t>(kLimit)) return -1;
    records_.push_back(record);
    const auto count = static_cast<int32_t>(records_.size());
    count_.store(count);
    return count;
}

std::optional<PACKETRETURN> ZTACKS_LIST::Get() {
    if (count_.load() == 0) return std::nullopt;
    CsGuard guard(lock_);
    if (records_.empty()) return std::nullopt;
    const PACKETRETURN record = records_.front();
    records_.pop_front();
    count_.store(static_cast<int32_t>(records_.size()));
    return record;
}

void ZTACKS_LIST::Clear() {
    CsGuard guard(lock_);
    records_.clear();
    count_.store(0);
}

}  // namespace velmora
