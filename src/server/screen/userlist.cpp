#include "server/screen/userlist.h"

#include <algorithm>
#include <string>

#include "server/screen/appmessages.h"

namespace velmora {

void UserList::Add(ScreenSession* session) {
    std::lock_guard<std::mutex> guard(lock_);
    sessions_.push_back(session);
}

bool UserList::Remove(ScreenSession* session) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (it == sessions_.end()) return false;
    sessions_.erase(it);
    return true;
}

int UserList::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(sessions_.size());
}

int UserList::CountActive() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(std::count_if(sessions_.begin(), sessions_.end(),
                                          [](const ScreenSession* s) { return s->Active(); }));
}

int UserList::Broadcast(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    int copies = 0;
    for (ScreenSession* session : sessions_) {
        if (session->Active() && session->QueueMessage(data, length)) ++copies;
    }
    return copies;
}

void UserList::BuildMemberList(std::vector<uint8_t>& message) const {
    // Names are copied out first: MemberInfo only points at them.
    std::vector<std::string> names;
    std::vector<MemberInfo> members;
    {
        std::lock_guard<std::mutex> guard(lock_);
        names.reserve(sessions_.size());
        members.reserve(sessions_.size());
        for (const ScreenSession* session : sessions_) {
            names.push_back(session->Name());
            members.push_back({{}, session->HoldsControl()});
        }
    }
    for (size_t i = 0; i < members.size(); ++i) members[i].name = names[i];
    velmora::BuildMemberList(members.data(), static_cast<int>(members.size()), message);
}

}  // namespace velmora
