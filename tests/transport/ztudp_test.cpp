#include "transport/ztudp.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "transport/ztpacket.h"

namespace velmora {
namespace {

TEST(ZtUdp, SendToDeliversOneDatagramToTheAddressAndPort) {
    SocketHandle receiver(OpenUdpSocket(LoopbackAddressRaw(), 0));
    SocketHandle sender(OpenUdpSocket(LoopbackAddressRaw(), 0));
    ASSERT_TRUE(receiver.Valid() && sender.Valid());
    uint8_t packet[kPacketSize];
    for (size_t i = 0; i < sizeof(packet); ++i) packet[i] = static_cast<uint8_t>(i * 7);

    ZTUDP udp;
    EXPECT_EQ(udp.SendTo(sender.Get(), LoopbackAddressRaw(), BoundPortRaw(receiver.Get()),
                         kPacketSendWaitMs, packet, sizeof(packet)),
              1024);
    uint8_t got[2048];
    const ssize_t n = recv(receiver.Get(), got, sizeof(got), 0);
    ASSERT_EQ(n, 1024);
    EXPECT_EQ(std::memcmp(got, packet, sizeof(packet)), 0);
}

TEST(ZtUdp, SendToAnswersMinusTwoWhenTheSocketStaysUnwritable) {
    // A datagram socket pair whose reader never reads: once its queue is full
    // the writer stays unwritable.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, pair), 0);
    SocketHandle writer(pair[0]), reader(pair[1]);
    uint8_t filler[kPacketSize] = {};
    while (send(writer.Get(), filler, sizeof(filler), 0) > 0) {
    }
    ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);

    ZTUDP udp;
    EXPECT_EQ(udp.SendTo(writer.Get(), LoopbackAddressRaw(), 0, 20, filler, sizeof(filler)),
              ZTUDP::kNotWritable);
}

TEST(ZtUdp, SendToOnAClosedDescriptorFails) {
    const int fd = OpenUdpSocket(LoopbackAddressRaw(), 0);
    ASSERT_GE(fd, 0);
    close(fd);
    uint8_t packet[4] = {};
    ZTUDP udp;
    EXPECT_EQ(udp.SendTo(fd, LoopbackAddressRaw(), 0, 20, packet, sizeof(packet)), ZTUDP::kFailed);
}

}  // namespace
}  // namespace velmora
