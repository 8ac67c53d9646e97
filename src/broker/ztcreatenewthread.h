// A set-up thread: sets one connection up through the engine, lets its
// connection thread run, waits for the server to acknowledge the connect
// request within the slot's connect time-out, and then either hands the
// connection to the application (nsConnected) or frees it (nsError with
// nleServerConnectFail). Runs once; the instance manager reaps it.
//
// Lock: none; slot changes are single stores.
#pragma once

#include <cstdint>

#include "platform/ztthread.h"

namespace velmora {

class ZTINSTANCE_MANAGER;

class ZTCREATENEWTHREAD : public ZTTHREAD {
  public:
    ZTCREATENEWTHREAD(ZTINSTANCE_MANAGER& manager, int32_t slotIndex, uint32_t connectionType);
    ~ZTCREATENEWTHREAD() override;

  private:
    enum class Outcome { kConnected, kNoAnswer, kEngineStopped };

    static uint32_t Proc(void* self);
    void SetUp();
    // Lets the connection run and waits for the acknowledgement of ccConnect.
    Outcome AwaitConnect(bool cacheHit);
    void Succeed(bool cacheHit);
    void Fail(bool cacheHit);

    ZTINSTANCE_MANAGER& manager_;
    const int32_t index_;
    const uint32_t connectionType_;
};

}  // namespace velmora
