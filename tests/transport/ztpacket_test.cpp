#include "transport/ztpacket.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velmora {
namespace {

TEST(ZtPacket, FieldsAreLittleEndianAtTheirOffsetsAndAddressesKeepNetworkOrder) {
    ZTPACKET p{};
    p.seq = 0x1234;
    p.framePackets = 64;
    p.frameSeq = 0xABCD;
    p.messageLength = -2;
    p.dataLength = 997;
    p.channel = 1;
    p.connectionKey = 499;
    p.ackPort.setRaw(0x3412);  // as sin_port holds port 0x1234 on a little-endian host
    p.noAck = 1;
    p.sendTick = 0x01020304;
    p.senderAddress.setRaw(0x0100007F);  // 127.0.0.1 as in sin_addr
    const auto* b = reinterpret_cast<const uint8_t*>(&p);

    const uint8_t header[27] = {0x34, 0x12, 64,   0xCD, 0xAB, 0xFE, 0xFF, 0xFF, 0xFF,
                                0xE5, 0x03, 0,    0,    1,    0xF3, 0x01, 0x12, 0x34,
                                1,    0x04, 0x03, 0x02, 0x01, 0x7F, 0,    0,    1};
    EXPECT_EQ(std::memcmp(b, header, sizeof(header)), 0);
}

TEST(ZtPacket, ReceivedBitmapIsMostSignificantBitFirst) {
    struct Case {
        uint32_t index;
        int byte;
        uint8_t mask;
    };
    const Case cases[] = {{0, 0, 0x80}, {1, 0, 0x40}, {7, 0, 0x01}, {8, 1, 0x80}, {63, 7, 0x01}};
    for (const Case& c : cases) {
        PACKETRETURN r{};
        SetReceivedBit(r, c.index);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(r.received[i], i == c.byte ? c.mask : 0) << "index " << c.index;
        EXPECT_TRUE(ReceivedBit(r, c.index));
        EXPECT_FALSE(ReceivedBit(r, c.index ^ 1u));
    }
}

}  // namespace
}  // namespace velmora
