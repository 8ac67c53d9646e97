// Random bytes as a control message, read both from a buffer of exactly
// their length and from a packet whose dataLength may claim anything. The
// sanitizers catch any read past the bytes; the checks below catch a reader
// that accepts a message shorter than its code's payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/controlmessages.h"

namespace velmora {
namespace {

size_t MinimumLength(uint8_t code) {
    switch (code) {
        case ccConnect:
            return sizeof(CONTROL_CONNECT);
        case ccDisconnect:
            return sizeof(CONTROL_DISCONNECT);
        case ccFlow:
            return sizeof(CONTROL_FLOW);
        default:
            return 1;
    }
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    std::vector<uint8_t> exact(data, data + size);  // heap copy: no slack after the end
    ControlMessage m;
    const int32_t r = ReadControlMessage(exact.data(), exact.size(), m);
    if (r == cmOk) Check(size >= MinimumLength(m.code));
    if (size == 0) Check(r == cmEmpty);

    ZTPACKET packet{};
    std::memcpy(&packet, data, size < sizeof(packet) ? size : sizeof(packet));
    if (ReadControlPacket(packet, m) == cmOk)
        Check(PacketPayloadLength(packet) >= MinimumLength(m.code));
    const CONTROL_ECHO reply = MakeEchoReply(exact.data(), exact.size(), 7);
    Check(reply.code == ccEcho && reply.tick.get() == 7);
    return 0;
}
