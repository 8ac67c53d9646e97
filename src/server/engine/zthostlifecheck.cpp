#include "server/engine/zthostlifecheck.h"

#include "server/engine/ztserver.h"
#include "transport/controlmessages.h"

namespace velmora {

ZTHOSTLIFECHECK::ZTHOSTLIFECHECK(ZTSERVER& engine, ZTHOSTLIST& host)
    : engine_(engine), host_(host) {
    threadProc = &ZTHOSTLIFECHECK::Proc;
}

ZTHOSTLIFECHECK::~ZTHOSTLIFECHECK() {
    StopAndWait(1);
}

uint32_t ZTHOSTLIFECHECK::Proc(void* parameter) {
    auto* self = static_cast<ZTHOSTLIFECHECK*>(static_cast<ZTTHREAD*>(parameter));
    self->BeginLoop();
    self->Probe();
    self->EndLoop();
    return 0;
}

void ZTHOSTLIFECHECK::Probe() {
    const int32_t state = host_.State();
    if (state != hsConnected && state != hsConnecting) return;
    // The mark applies only to the connection that was probed, not to a later
    // one the record may serve by the time the wait ends.
    const uint32_t generation = host_.Generation();
    const CONTROL_LIFECHECK probe = MakeLifeCheck();
    const int32_t result = engine_.SendOnHost(host_, kControlChannel, 0, &probe, sizeof(probe),
                                              engine_.Settings().lifeCheckWaitMs, this);
    if (result <= 0 && !StopRequested()) (void)engine_.MarkDropping(host_, generation);
}

}  // namespace velmora
