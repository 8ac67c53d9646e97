// A one-shot probe of a silent connection: sends ccLifeCheck on the control
// channel and waits for its acknowledgement; without one in time the record
// is marked for dropping. The host manager that starts it owns it and
// destroys it once it has ended; a stop request (Shutdown) ends the wait
// without marking anything.
#pragma once

#include <cstdint>

#include "platform/ztthread.h"

namespace velmora {

class ZTSERVER;
class ZTHOSTLIST;

class ZTHOSTLIFECHECK : public ZTTHREAD {
  public:
    ZTHOSTLIFECHECK(ZTSERVER& engine, ZTHOSTLIST& host);
    ~ZTHOSTLIFECHECK() override;

    const ZTHOSTLIST& Host() const { return host_; }

  private:
    static uint32_t Proc(void* parameter);
    void Probe();

    ZTSERVER& engine_;
    ZTHOSTLIST& host_;
};

}  // namespace velmora
