#include "transport/ztping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "transport/ztudp.h"

namespace velmora {
namespace {

TEST(ZtPing, ChecksumFoldsCarriesAndAddsAnOddLastByteOnItsOwn) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint16_t want;
    };
    const Case cases[] = {
        {{0x01, 0x02}, 0xFDFE},              // one word 0x0201
        {{0x01, 0x02, 0x03}, 0xFDFB},        // 0x0201 + 0x03
        {{0xFF, 0xFF, 0x01, 0x00}, 0xFFFE},  // 0xFFFF + 1 folds to 1
        {{}, 0xFFFF},
    };
    for (const Case& c : cases) EXPECT_EQ(ZTPING::Checksum(c.bytes.data(), c.bytes.size()), c.want);
}

TEST(ZtPing, RequestCarriesTheDesignedBytesAndAValidChecksum) {
    const ICMP_ECHO_REQUEST r = ZTPING::BuildRequest(0x0102, 0xA1B2C3D4);
    const auto* b = reinterpret_cast<const uint8_t*>(&r);
    const uint8_t head[] = {8, 0, b[2], b[3], 0x02, 0x01, 0x02, 0x01, 0, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(std::memcmp(b, head, sizeof(head)), 0);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(b[13 + i], 0x20 + i);
    // Summing a message together with its checksum gives zero.
    EXPECT_EQ(ZTPING::Checksum(b, sizeof(r)), 0);
}

// A scripted network: answers each request (or not) the way a host would.
struct FakeNet {
    bool opens = true;
    bool raw = true;
    bool answer = true;      // the host replies
    bool echoOwn = false;    // loopback raw socket: our own request comes back first
    bool wrongSeq = false;   // the reply belongs to another request
    bool waitFails = false;  // poll fails
    int closeResult = 0;
    std::vector<std::vector<uint8_t>> sent;
};

class FakeEchoSocket : public EchoSocket {
  public:
    explicit FakeEchoSocket(FakeNet& net) : net_(net) {}
    bool Send(const void* data, size_t length, uint32_t) override {
        const auto* b = static_cast<const uint8_t*>(data);
        net_.sent.emplace_back(b, b + length);
        if (net_.echoOwn) Queue(net_.sent.back());
        if (net_.answer) {
            std::vector<uint8_t> reply = net_.sent.back();
            reply[0] = kIcmpEchoReply;
            if (net_.wrongSeq) ++reply[6];
            Queue(reply);
        }
        return true;
    }
    int WaitReadable(uint32_t) override {
        if (net_.waitFails) return -1;
        return inbox_.empty() ? 0 : 1;
    }
    ssize_t Receive(uint8_t* buffer, size_t capacity) override {
        const std::vector<uint8_t> d = inbox_.front();
        inbox_.pop_front();
        const size_t n = std::min(capacity, d.size());
        std::memcpy(buffer, d.data(), n);
        return static_cast<ssize_t>(n);
    }
    int Close() override { return net_.closeResult; }
    bool CarriesIpHeader() const override { return net_.raw; }
    bool KernelSetsIdentifier() const override { return !net_.raw; }

  private:
    void Queue(std::vector<uint8_t> icmp) {
        if (net_.raw) {
            std::vector<uint8_t> ip(20, 0);
            ip[0] = 0x45;
            icmp.insert(icmp.begin(), ip.begin(), ip.end());
        }
        inbox_.push_back(std::move(icmp));
    }
    FakeNet& net_;
    std::deque<std::vector<uint8_t>> inbox_;
};

EchoSocketOpener OpenerFor(FakeNet& net) {
    return [&net]() -> std::unique_ptr<EchoSocket> {
        if (!net.opens) return nullptr;
        return std::make_unique<FakeEchoSocket>(net);
    };
}

TEST(ZtPing, IdentifierAndSequenceStartAtOneAndStepPerRequest) {
    FakeNet net;
    EchoCounter counter;
    ZTPING ping(OpenerFor(net), counter);
    ASSERT_EQ(ping.Ping(LoopbackAddressRaw(), 2, 0), ZTPING::kAllReplied);
    ASSERT_EQ(net.sent.size(), 2u);
    for (uint16_t n = 1; n <= 2; ++n) {
        const std::vector<uint8_t>& r = net.sent[n - 1];
        EXPECT_EQ(LoadLe<uint16_t>(&r[4]), n);
        EXPECT_EQ(LoadLe<uint16_t>(&r[6]), n);
    }
}

TEST(ZtPing, ResultsFollowTheRepliesThatBelongToTheRequests) {
    struct Case {
        const char* what;
        void (*setup)(FakeNet&);
        int32_t want;
        size_t sends;
    };
    const Case cases[] = {
        {"raw socket, host answers", [](FakeNet&) {}, ZTPING::kAllReplied, 3},
        {"datagram socket, host answers", [](FakeNet& n) { n.raw = false; }, ZTPING::kAllReplied,
         3},
        {"own request seen, then the reply", [](FakeNet& n) { n.echoOwn = true; },
         ZTPING::kAllReplied, 3},
        {"silent host", [](FakeNet& n) { n.answer = false; }, ZTPING::kNoReply, 3},
        {"only our own request comes back",
         [](FakeNet& n) {
             n.answer = false;
             n.echoOwn = true;
         },
         ZTPING::kNoReply, 3},
        {"reply to another request", [](FakeNet& n) { n.wrongSeq = true; }, ZTPING::kNoReply, 3},
        {"failed wait stops the repeats", [](FakeNet& n) { n.waitFails = true; }, ZTPING::kNoReply,
         1},
        {"socket cannot be opened", [](FakeNet& n) { n.opens = false; }, ZTPING::kCannotOpen, 0},
        {"closing fails", [](FakeNet& n) { n.closeResult = -1; }, ZTPING::kCloseFailed, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeNet net;
        c.setup(net);
        EchoCounter counter;
        ZTPING ping(OpenerFor(net), counter);
        EXPECT_EQ(ping.Ping(LoopbackAddressRaw(), 3, 0), c.want);
        EXPECT_EQ(net.sent.size(), c.sends);
    }
}

TEST(ZtPing, LoopbackAnswersThroughTheSystemSocket) {
    if (!OpenSystemEchoSocket()) GTEST_SKIP() << "no ICMP socket may be opened here";
    ZTPING ping;
    EXPECT_EQ(ping.Ping(LoopbackAddressRaw(), 2, 0), ZTPING::kAllReplied);
}

}  // namespace
}  // namespace velmora
