#include "transport/ztpacket.h"

namespace velmora {

PACKETRETURN StatusFromPacket(const ZTPACKET& packet) {
    PACKETRETURN r{};
    r.channel = packet.channel;
    r.frameSeq = packet.frameSeq.get();
    r.senderAddress = packet.senderAddress;
    r.connectionKey = packet.connectionKey.get();
    r.sendTick = packet.sendTick.get();
    r.framePackets = packet.framePackets;
    return r;
}

}  // namespace velmora
