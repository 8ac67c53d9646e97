#include "platform/shared_name.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/ztmutex.h"
#include "platform/ztshared_memory.h"

namespace velmora {
namespace {

const std::string kUid = std::to_string(geteuid());

TEST(SharedName, NamesLiveInOnePerUserNamespaceWithOddCharactersReplaced) {
    const std::string hundred(kMaxSharedName, 'n');
    struct Case {
        std::string name;
        std::string memory;
    };
    const Case cases[] = {
        {"ZTVLVIEW_BROKER", "ZTVLVIEW_BROKER"},
        {"ZTVLVIEW_BROKERRM12", "ZTVLVIEW_BROKERRM12"},
        {"a b/c:d\\e", "a_b_c_d_e"},
        {"v1.2-x", "v1.2-x"},
        {hundred, hundred},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SharedObjectName(c.name), "/zt" + kUid + "." + c.memory);
        EXPECT_EQ(SharedMutexObjectName(c.name), "/zt" + kUid + "-mutex." + c.memory);
    }
    // A memory whose name begins like the mutex namespace stays apart from it.
    EXPECT_NE(SharedObjectName("-mutex.x"), SharedMutexObjectName("x"));
}

TEST(SharedName, BadNamesFailClearlyEverywhere) {
    struct Case {
        std::string name;
        const char* reason;
    };
    const Case cases[] = {
        {"", "empty"},
        {std::string(kMaxSharedName + 1, 'n'), "at most 100"},
        {"line\nbreak", "control"},
        {"tab\tname", "control"},
        {"del\x7f", "control"},
        {"\xED\x99\x94\xEB\xA9\xB4", "non-ASCII"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        std::string why;
        EXPECT_EQ(SharedObjectName(c.name, &why), "");
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(SharedMutexObjectName(c.name), "");

        ZTMUTEX mutex;
        EXPECT_FALSE(mutex.Create(c.name.c_str()));
        EXPECT_NE(mutex.LastError().find(c.reason), std::string::npos) << mutex.LastError();
        for (bool create : {false, true}) {
            ZTSHARED_MEMORY memory(c.name.c_str(), 64, create);
            EXPECT_EQ(memory.View(), nullptr);
            EXPECT_NE(memory.LastError().find(c.reason), std::string::npos) << memory.LastError();
        }
    }
    ZTMUTEX mutex;
    EXPECT_FALSE(mutex.Create(nullptr));
    EXPECT_FALSE(mutex.LastError().empty());
    ZTSHARED_MEMORY memory(nullptr, 64, true);
    EXPECT_EQ(memory.View(), nullptr);
    EXPECT_FALSE(memory.LastError().empty());
}

}  // namespace
}  // namespace velmora
