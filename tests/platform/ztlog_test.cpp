#include "platform/ztlog.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {
namespace {

struct Line {
    int level;
    std::string text;
};

TEST(ZtLog, ForwardsToTheHandlerOnlyWhileOneIsInstalled) {
    ZTLOG log("ZTCLIENT.LOG");
    EXPECT_EQ(log.Name(), "ZTCLIENT.LOG");
    std::vector<Line> lines;
    log.Write(0, "before");
    log.SetHandler([&](int level, std::string_view text) {
        lines.push_back({level, std::string(text)});
    });
    EXPECT_TRUE(log.HasHandler());
    log.Write(1, "연결 실패");
    log.Printf(0, "slot %d of %s", 7, "ZTVLVIEW_BROKER");
    log.ClearHandler();
    log.Write(0, "after");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, 1);
    EXPECT_EQ(lines[0].text, "연결 실패");
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].text, "slot 7 of ZTVLVIEW_BROKER");
}

TEST(ZtLog, PrintfCutsAt1023BytesWithoutSplittingACharacter) {
    const std::string han = "한";  // three bytes in UTF-8
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {std::string(1023, 'a'), std::string(1023, 'a')},
        {std::string(2000, 'a'), std::string(1023, 'a')},
        {std::string(1020, 'a') + han, std::string(1020, 'a') + han},
        {std::string(1021, 'a') + han, std::string(1021, 'a')},
        {std::string(1022, 'a') + han + "b", std::string(1022, 'a')},
    };
    ZTLOG log("ZTSERVER.LOG");
    std::string got;
    log.SetHandler([&](int, std::string_view text) { got = text; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        log.Printf(0, "%s", c.text.c_str());
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ZtLog, AHandlerThatThrowsDoesNotReachTheWriter) {
    ZTLOG log("ZTCLIENT.LOG");
    log.SetHandler([](int, std::string_view) { throw std::runtime_error("window gone"); });
    EXPECT_NO_THROW(log.Write(1, "status"));
}

}  // namespace
}  // namespace velmora
