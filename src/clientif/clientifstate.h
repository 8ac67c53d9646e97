// The process-wide state of the client-interface library: the last connect
// error, the closing flag, the application GUID, the keep-alive list and its
// thread, the settings and the started broker processes. Made at first use
// and destroyed at process exit, stopping the keep-alive thread first.
//
// Lock: lock_ (the library lock) guards everything here but the atomics; the
// keep-alive thread takes it for one round at a time. It is never held while
// waiting for a broker, and is taken before the starter's own lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientif/brokerstarter.h"
#include "clientif/instancelist.h"
#include "clientif/keepalivethread.h"
#include "clientif/ztclientif.h"
#include "platform/guid.h"

namespace velmora {

class ClientIfState {
  public:
    static ClientIfState& Instance();
    ~ClientIfState();

    // Records a connect failure; answers null for the caller to return.
    ZTIF_CONNECTION* Fail(int32_t code, const std::string& text);
    int32_t LastError() const { return lastError_.load(); }
    std::string LastErrorText();

    bool Closing() const { return closing_.load(); }
    void SetClosing() { closing_.store(true); }

    ZtifSettings Settings();
    void SetSettings(const ZtifSettings& settings);

    // Made once per process, at the first connect that needs it.
    Guid ApplicationGuid();
    void SetApplicationGuid(const Guid& guid);

    // Adds the broker name unless it is there; starts the keep-alive thread
    // when none runs. False when the thread cannot be made.
    bool KeepAlive(const std::string& brokerName);
    // Removes the name when no slot of its open instance list is connected
    // (counted under the library lock).
    void ForgetIfIdle(const std::string& brokerName, const InstanceList& list);
    void ClearKeepAlive();

    BrokerStarter& Starter() { return starter_; }

    void Reset();

  private:
    ClientIfState() = default;
    static void AfterKeepAliveRound(void* self);
    void StopKeepAlive();

    std::mutex lock_;
    std::atomic<int32_t> lastError_{nleOk};
    std::atomic<bool> closing_{false};
    std::string lastErrorText_;
    Guid guid_;
    bool guidToMake_ = true;
    ZtifSettings settings_;
    std::vector<std::string> keepAliveNames_;
    std::unique_ptr<KeepAliveThread> keepAlive_;
    BrokerStarter starter_;
};

}  // namespace velmora
