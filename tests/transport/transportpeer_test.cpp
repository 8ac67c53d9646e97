// The test harness itself: the relay impairs as told, and two peers built
// from the transport's pieces carry both channels.
#include "support/transportpeer.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <map>
#include <vector>

#include "support/lossyrelay.h"

namespace velmora {
namespace {

// Sends `count` one-byte datagrams 1..count through a relay link with the
// given impairment; answers the bytes the target received, in order.
std::vector<uint8_t> ThroughLink(const Impairment& imp, int count) {
    SocketHandle target(OpenUdpSocket(LoopbackAddressRaw(), 0));
    SocketHandle client(OpenUdpSocket(LoopbackAddressRaw(), 0));
    LossyRelay relay(5);
    const uint16_t port = relay.AddLink(LoopbackAddressRaw(), BoundPortRaw(target.Get()), imp);
    EXPECT_NE(port, 0);
    EXPECT_TRUE(relay.Start());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = LoopbackAddressRaw();
    to.sin_port = port;
    for (int i = 1; i <= count; ++i) {
        const uint8_t b = static_cast<uint8_t>(i);
        EXPECT_EQ(sendto(client.Get(), &b, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 1);
    }
    std::vector<uint8_t> got;
    timeval wait{0, 200000};  // the relay holds nothing longer than 5 ms
    setsockopt(target.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    uint8_t b;
    while (recv(target.Get(), &b, 1, 0) == 1) got.push_back(b);
    return got;
}

TEST(LossyRelay, DropsDuplicatesAndReordersAsConfigured) {
    Impairment none, drop, dup, reorder;
    drop.drop = 1.0;
    dup.duplicate = 1.0;
    reorder.reorder = 1.0;
    EXPECT_EQ(ThroughLink(none, 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(ThroughLink(drop, 3), (std::vector<uint8_t>{}));
    EXPECT_EQ(ThroughLink(dup, 2), (std::vector<uint8_t>{1, 1, 2, 2}));
    // Each held datagram is overtaken by the next; the last one is released
    // when its hold time ends.
    EXPECT_EQ(ThroughLink(reorder, 3), (std::vector<uint8_t>{2, 1, 3}));
}

TEST(TransportPeer, CarriesBothChannelsInOrderAndSendAndWaitSeesTheAcknowledgement) {
    PeerConfig config;
    config.connectionKey = 12;
    TransportPeer a(config), b(config);
    ASSERT_TRUE(a.Open() && b.Open());
    a.SetRemote(LoopbackAddressRaw(), b.DataPortRaw(), b.AckPortRaw());
    b.SetRemote(LoopbackAddressRaw(), a.DataPortRaw(), a.AckPortRaw());
    ASSERT_TRUE(a.Start() && b.Start());

    std::map<uint8_t, std::vector<uint32_t>> sent;
    for (uint32_t i = 0; i < 40; ++i) {
        const uint8_t channel = i % 3 == 0 ? kControlChannel : kDataChannel;
        std::vector<uint8_t> message(i * 2111, static_cast<uint8_t>(i));
        ASSERT_EQ(a.Send(channel, message.data(), static_cast<uint32_t>(message.size())),
                  static_cast<int32_t>(message.size()));
        sent[channel].push_back(i);
    }
    std::vector<uint8_t> last(5000, 0xEE);
    EXPECT_EQ(a.Send(kDataChannel, last.data(), 5000, 10000), 5000);
    sent[kDataChannel].push_back(99);

    std::map<uint8_t, std::vector<uint32_t>> got;
    std::vector<uint8_t> message;
    uint8_t channel = 0;
    for (size_t n = 0; n < 41 && b.Receive(message, channel, 10000); ++n) {
        const uint32_t id = message.empty() ? 0 : (message[0] == 0xEE ? 99 : message[0]);
        EXPECT_EQ(message.size(), id == 99 ? 5000u : id * 2111u);
        got[channel].push_back(id);
    }
    EXPECT_EQ(got, sent);
    EXPECT_EQ(b.Stats().assemblyErrors, 0u);
}

}  // namespace
}  // namespace velmora
