#include "transport/ztpacket_completelist.h"

#include <utility>

namespace velmora {

void ZTPACKET_COMPLETELIST::Add(std::unique_ptr<ZTPACKET> packet) {
    if (!packet) return;
    CsGuard guard(lock_);
    packets_.push_back(std::move(packet));
    count_.store(static_cast<uint32_t>(packets_.size()));
}

std::unique_ptr<ZTPACKET> ZTPACKET_COMPLETELIST::Get() {
    if (count_.load() == 0) return nullptr;
    CsGuard guard(lock_);
    if (packets_.empty()) return nullptr;
    std::unique_ptr<ZTPACKET> packet = std::move(packets_.front());
    packets_.pop_front();
    count_.store(static_cast<uint32_t>(packets_.size()));
    return packet;
}

void ZTPACKET_COMPLETELIST::Clear() {
    CsGuard guard(lock_);
    packets_.clear();
    count_.store(0);
}

}  // namespace velmora
