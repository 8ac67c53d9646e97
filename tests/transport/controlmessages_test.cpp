#include "transport/controlmessages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace velmora {
namespace {

template <typename R>
std::vector<uint8_t> Bytes(const R& record) {
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(p, p + sizeof(R));
}

TEST(ControlMessages, BuildersWriteTheWireBytes) {
    uint8_t id[kPeerIdSize];
    for (size_t i = 0; i < kPeerIdSize; ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
    std::vector<uint8_t> connect = {1, 4, 0, 0, 0};
    connect.insert(connect.end(), id, id + kPeerIdSize);

    EXPECT_EQ(Bytes(MakeConnect(ctViewerSession, id)), connect);
    EXPECT_EQ(Bytes(MakeDisconnect(drLengthMismatch)),
              (std::vector<uint8_t>{2, 0xF9, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(MakeLifeCheck()), (std::vector<uint8_t>{6}));
    EXPECT_EQ(Bytes(MakeFlow(kFlowPause)), (std::vector<uint8_t>{7, 1}));
    EXPECT_EQ(Bytes(MakeFlow(kFlowResume)), (std::vector<uint8_t>{7, 0}));
}

TEST(ControlMessages, EchoReplyKeepsTheRequestZeroFillsAndStampsTheTick) {
    const uint8_t shortRequest[] = {3, 0x11, 0x22};
    EXPECT_EQ(Bytes(MakeEchoReply(shortRequest, sizeof(shortRequest), 0x04030201)),
              (std::vector<uint8_t>{3, 0x11, 0x22, 0, 0, 1, 2, 3, 4}));
    // Bytes past the ninth are not echoed; bytes 5..8 are replaced.
    const uint8_t longRequest[] = {3, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0xEE};
    EXPECT_EQ(Bytes(MakeEchoReply(longRequest, sizeof(longRequest), 0xAABBCCDD)),
              (std::vector<uint8_t>{3, 9, 8, 7, 6, 0xDD, 0xCC, 0xBB, 0xAA}));
}

TEST(ControlMessages, ReadersRefuseMessagesShorterThanTheirPayload) {
    struct Case {
        uint8_t code;
        size_t minimum;
    };
    const Case cases[] = {{ccConnect, 21}, {ccDisconnect, 5}, {ccFlow, 2},
                          {ccEcho, 1},     {ccLifeCheck, 1},  {ccRefused, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        // The buffer is exactly as long as the message, so a reader going past
        // the given length is caught by the address sanitizer.
        for (size_t length = 1; length <= c.minimum; ++length) {
            std::vector<uint8_t> message(length, 0x5A);
            message[0] = c.code;
            ControlMessage m;
            EXPECT_EQ(ReadControlMessage(message.data(), length, m),
                      length < c.minimum ? cmShort : cmOk)
                << "length " << length;
            EXPECT_EQ(m.code, c.code);
        }
    }
    ControlMessage m;
    EXPECT_EQ(ReadControlMessage(nullptr, 0, m), cmEmpty);
    for (uint8_t unused : {0, 4, 8, 255}) {
        const uint8_t message[] = {unused, 1, 2, 3, 4, 5};
        EXPECT_EQ(ReadControlMessage(message, sizeof(message), m), cmUnknownCode);
        EXPECT_EQ(m.code, unused);
    }
}

TEST(ControlMessages, ReadersGiveBackWhatTheBuildersWrote) {
    uint8_t id[kPeerIdSize] = {};
    id[0] = 0x42;
    id[15] = 0x99;
    ControlMessage m;

    const auto connect = MakeConnect(ctMemoryService, id);
    ASSERT_EQ(ReadControlMessage(&connect.code, sizeof(connect), m), cmOk);
    EXPECT_EQ(m.connectionType, ctMemoryService);
    EXPECT_EQ(std::memcmp(m.peerId, id, kPeerIdSize), 0);

    const auto disconnect = MakeDisconnect(drThreadEnded);
    ASSERT_EQ(ReadControlMessage(&disconnect.code, sizeof(disconnect), m), cmOk);
    EXPECT_EQ(m.reason, drThreadEnded);

    const auto flow = MakeFlow(kFlowPause);
    ASSERT_EQ(ReadControlMessage(&flow.code, sizeof(flow), m), cmOk);
    EXPECT_EQ(m.flow, kFlowPause);

    const uint8_t request[] = {ccEcho, 1};
    ASSERT_EQ(ReadControlMessage(request, sizeof(request), m), cmOk);
    EXPECT_FALSE(m.hasEchoTick);
    const auto reply = MakeEchoReply(request, sizeof(request), 123456);
    ASSERT_EQ(ReadControlMessage(&reply.code, sizeof(reply), m), cmOk);
    EXPECT_TRUE(m.hasEchoTick);
    EXPECT_EQ(m.echoTick, 123456u);
}

TEST(ControlMessages, PacketReaderTrustsOnlyDataLengthBoundedByThePacket) {
    ZTPACKET packet{};
    const uint8_t id[kPeerIdSize] = {};
    const auto connect = MakeConnect(ctViewerSession, id);
    std::memcpy(packet.data, &connect, sizeof(connect));
    ControlMessage m;

    packet.dataLength = 4;  // the bytes are there, but the packet does not carry them
    EXPECT_EQ(ReadControlPacket(packet, m), cmShort);
    packet.dataLength = sizeof(connect);
    EXPECT_EQ(ReadControlPacket(packet, m), cmOk);
    packet.dataLength = 60000;  // a lie: read as the packet's 997 bytes
    EXPECT_EQ(PacketPayloadLength(packet), kPacketDataSize);
    EXPECT_EQ(ReadControlPacket(packet, m), cmOk);
}

TEST(ControlMessages, RefusalChangesOnlyChannelNoAckAndTheFirstDataByte) {
    ZTPACKET packet;
    for (size_t i = 0; i < sizeof(packet); ++i)
        reinterpret_cast<uint8_t*>(&packet)[i] = static_cast<uint8_t>(i * 7 + 3);
    packet.channel = kDataChannel;
    packet.noAck = 0;
    ZTPACKET original = packet;
    EXPECT_FALSE(IsRefusal(packet));

    MakeRefusal(packet);
    EXPECT_TRUE(IsRefusal(packet));
    original.channel = kControlChannel;
    original.noAck = 1;
    original.data[0] = ccRefused;
    EXPECT_EQ(std::memcmp(&packet, &original, sizeof(packet)), 0);
}

}  // namespace
}  // namespace velmora
