// VelClient: the server's session with one viewer, run as the engine's
// per-connection application thread. The session factory creates it (and
// lists it in the user list); the engine starts it when the connection
// completes and destroys it when the connection's record is released.
//
// A session whose connection never completed never runs: it is taken off
// the user list when the engine finishes with it, so it neither counts
// against the user limit nor stays listed after it is gone.
#pragma once

#include "server/engine/ztserverclient_thread.h"
#include "server/screen/viewersession.h"

namespace velmora {

class VelClient final : public ZTSERVERCLIENT_THREAD, public ViewerSession {
  public:
    explicit VelClient(const SessionServices& services) : ViewerSession(services) {}
    ~VelClient() override;

    void Execute() override;
    void ThreadFinish() override;

    // How the session ended (ViewerSession::Run's answer); 0 while it runs.
    int Result() const { return result_; }

  private:
    int result_ = 0;
};

}  // namespace velmora
