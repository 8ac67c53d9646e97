// The server's list of viewer sessions (`userList`): every session the
// engine created that has not ended, whatever its state. The session factory
// appends, a session removes itself when it ends; the capture and send
// threads broadcast through it and build the member list from it.
//
// Lock: lock_ guards sessions_. Lock order: the capture thread's locks, then
// lock_, then a session's queue lock. Functions given to ForEach run with
// lock_ held: they must not block or take any lock but a session's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "server/screen/screensession.h"

namespace velmora {

class UserList {
  public:
    void Add(ScreenSession* session);
    // False when the session was not listed.
    bool Remove(ScreenSession* session);

    int Count() const;
    int CountActive() const;

    // Gives a copy of the message to every active session (each its own
    // copy in its queue); answers how many got one.
    int Broadcast(const uint8_t* data, size_t length);

    // MEMBER_LIST of every listed session, in list order: its name (empty
    // while it logs on) and whether it holds the control right.
    void BuildMemberList(std::vector<uint8_t>& message) const;

    template <typename Function>
    void ForEach(Function&& function) const {
        std::lock_guard<std::mutex> guard(lock_);
        for (ScreenSession* session : sessions_) function(*session);
    }

  private:
    mutable std::mutex lock_;
    std::vector<ScreenSession*> sessions_;
};

}  // namespace velmora
