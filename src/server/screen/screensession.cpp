#include "server/screen/screensession.h"

#include <new>
#include <utility>

namespace velmora {
namespace {

// A slot buffer this large that receives a message under a quarter of its
// size gives its memory back first, so one full picture does not pin
// megabytes in every slot for the rest of the session.
constexpr size_t kKeepCapacity = 256 * 1024;

}  // namespace

bool ScreenSession::QueueMessage(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == kQueueLimit) {
        head_ = (head_ + 1) % kQueueLimit;
        --count_;
        dropped_.fetch_add(1);
    }
    std::vector<uint8_t>& slot = ring_[static_cast<size_t>((head_ + count_) % kQueueLimit)];
    if (slot.capacity() > kKeepCapacity && length < slot.capacity() / 4) {
        std::vector<uint8_t>().swap(slot);
    }
    try {
        slot.assign(data, data + length);
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(slot);
        return false;
    }
    ++count_;
    return true;
}

bool ScreenSession::TakeMessage(std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == 0) return false;
    std::swap(out, ring_[static_cast<size_t>(head_)]);
    head_ = (head_ + 1) % kQueueLimit;
    --count_;
    return true;
}

void ScreenSession::ClearQueue() {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& slot : ring_) std::vector<uint8_t>().swap(slot);
    head_ = 0;
    count_ = 0;
}

int ScreenSession::QueuedCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return count_;
}

std::string ScreenSession::Name() const {
    std::lock_guard<std::mutex> guard(lock_);
    return name_;
}

void ScreenSession::SetName(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    name_ = name.substr(0, kNameLimit);
}

}  // namespace velmora
