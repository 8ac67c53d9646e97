// Messages of the boundary sizes travel from a test application through the
// broker program to a real server engine and back, byte-exact, on a clean
// link and through a relay that loses 5 % of the datagrams both ways.
#include <gtest/gtest.h>

#include "broker/e2e_fixture.h"
#include "support/messagepattern.h"

namespace velmora::test {
namespace {

class BrokerLink : public BrokerEndToEnd, public ::testing::WithParamInterface<double> {};

TEST_P(BrokerLink, MessagesOfEveryBoundarySizeCrossByteExactBothWays) {
    Impairment link;
    link.drop = GetParam();
    EchoServer server;
    ASSERT_TRUE(server.Start(GetParam() > 0 ? &link : nullptr, 5));
    ZTIF_CONNECTION* c = Connect(server);
    ASSERT_NE(c, nullptr) << ZtifLastErrorText();

    // An empty message never travels: the library queues no record for it.
    EXPECT_EQ(ZtifSend(c, "", 0, 0, 1000), 0);
    for (uint32_t size : {1u, 997u, 998u, 63808u, 63809u, 1000000u}) {
        SCOPED_TRACE(size);
        MessagePattern pattern(size, size);
        std::vector<uint8_t> message;
        pattern.Fill(3, message);
        message.resize(size);
        ASSERT_TRUE(EchoOnce(c, message));
    }
    EXPECT_EQ(ZtifPeek(c), 0) << "nothing more came back";
    EXPECT_EQ(ZtifDisconnect(c), 1);
}

std::string LinkName(const ::testing::TestParamInfo<double>& link) {
    return link.param > 0 ? "FivePercentLoss" : "CleanLink";
}

INSTANTIATE_TEST_SUITE_P(Loss, BrokerLink, ::testing::Values(0.0, 0.05), LinkName);

}  // namespace
}  // namespace velmora::test
