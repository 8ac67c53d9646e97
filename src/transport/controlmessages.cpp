#include "transport/controlmessages.h"

#include <algorithm>
#include <cstring>

namespace velmora {

CONTROL_CONNECT MakeConnect(int32_t connectionType, const uint8_t (&peerId)[kPeerIdSize]) {
    CONTROL_CONNECT m{};
    m.code = ccConnect;
    m.connectionType = connectionType;
    std::memcpy(m.peerId, peerId, kPeerIdSize);
    return m;
}

CONTROL_DISCONNECT MakeDisconnect(int32_t reason) {
    CONTROL_DISCONNECT m{};
    m.code = ccDisconnect;
    m.reason = reason;
    return m;
}

CONTROL_LIFECHECK MakeLifeCheck() {
    return CONTROL_LIFECHECK{ccLifeCheck};
}

CONTROL_FLOW MakeFlow(uint8_t flow) {
    return CONTROL_FLOW{ccFlow, flow};
}

CONTROL_ECHO MakeEchoReply(const uint8_t* request, size_t length, uint32_t tick) {
    CONTROL_ECHO m{};
    if (request != nullptr) std::memcpy(&m, request, std::min(length, sizeof(CONTROL_ECHO)));
    m.code = ccEcho;
    m.tick = tick;
    return m;
}

void MakeRefusal(ZTPACKET& packet) {
    packet.channel = kControlChannel;
    packet.noAck = 1;
    packet.data[0] = ccRefused;
}

int32_t ReadControlMessage(const uint8_t* data, size_t length, ControlMessage& out) {
    out = ControlMessage{};
    if (data == nullptr || length == 0) return cmEmpty;
    out.code = data[0];
    switch (out.code) {
        case ccConnect:
            if (length < sizeof(CONTROL_CONNECT)) return cmShort;
            out.connectionType = LoadLe<int32_t>(data + offsetof(CONTROL_CONNECT, connectionType));
            std::memcpy(out.peerId, data + offsetof(CONTROL_CONNECT, peerId), kPeerIdSize);
            return cmOk;
        case ccDisconnect:
            if (length < sizeof(CONTROL_DISCONNECT)) return cmShort;
            out.reason = LoadLe<int32_t>(data + offsetof(CONTROL_DISCONNECT, reason));
            return cmOk;
        case ccEcho:
            if (length >= sizeof(CONTROL_ECHO)) {
                out.hasEchoTick = true;
                out.echoTick = LoadLe<uint32_t>(data + offsetof(CONTROL_ECHO, tick));
            }
            return cmOk;
        case ccRefused:
        case ccLifeCheck:
            return cmOk;
        case ccFlow:
            if (length < sizeof(CONTROL_FLOW)) return cmShort;
            out.flow = data[offsetof(CONTROL_FLOW, flow)];
            return cmOk;
        default:
            return cmUnknownCode;
    }
}

int32_t ReadControlPacket(const ZTPACKET& packet, ControlMessage& out) {
    return ReadControlMessage(packet.data, PacketPayloadLength(packet), out);
}

}  // namespace velmora
