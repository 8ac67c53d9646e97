#include "platform/ztshared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/child_process.h"
#include "platform/shared_name.h"

namespace velmora {
namespace {

using test::ChildProcess;

class ZtSharedMemoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = "shm" + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    // Objects a case made by hand, or a failed case left behind.
    void TearDown() override { shm_unlink(SharedObjectName(name_).c_str()); }
    const char* Name() const { return name_.c_str(); }

    std::string name_;
};

TEST_F(ZtSharedMemoryTest, MadeByOneProcessOpenedByAnotherGoneAfterItsCreatorCloses) {
    auto creator = std::make_unique<ZTSHARED_MEMORY>(Name(), 4096, true);
    ASSERT_NE(creator->View(), nullptr) << creator->LastError();
    EXPECT_TRUE(creator->Created());
    EXPECT_EQ(creator->Size(), 4096u);
    std::memcpy(creator->View(), "ping", 5);

    ChildProcess child([&] {
        ZTSHARED_MEMORY opened(Name(), 0, false);
        if (opened.View() == nullptr || opened.Size() != 4096 || opened.Created()) return 10;
        if (std::memcmp(opened.View(), "ping", 5) != 0) return 11;
        std::memcpy(opened.View() + 4090, "pong", 5);
        return 0;
    });
    ASSERT_EQ(child.Wait(), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(creator->View() + 4090), "pong");

    ZTSHARED_MEMORY stillMapped(Name(), 0, false);
    ASSERT_NE(stillMapped.View(), nullptr) << stillMapped.LastError();
    creator.reset();

    ZTSHARED_MEMORY afterwards(Name(), 0, false);
    EXPECT_EQ(afterwards.View(), nullptr);
    EXPECT_NE(afterwards.LastError().find("does not exist"), std::string::npos)
        << afterwards.LastError();
    // A process that still has it mapped keeps a working view.
    EXPECT_STREQ(reinterpret_cast<char*>(stillMapped.View()), "ping");
    stillMapped.View()[0] = 'P';
}

TEST_F(ZtSharedMemoryTest, IsPrivateToItsOwnerWhateverTheUmask) {
    const mode_t old = umask(0);
    ZTSHARED_MEMORY memory(Name(), 100, true);
    umask(old);
    ASSERT_NE(memory.View(), nullptr) << memory.LastError();
    const int fd = shm_open(SharedObjectName(Name()).c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    close(fd);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
}

TEST_F(ZtSharedMemoryTest, ASecondCreatorUsesTheExistingObjectUnchanged) {
    ZTSHARED_MEMORY first(Name(), 4096, true);
    ASSERT_NE(first.View(), nullptr) << first.LastError();
    first.View()[7] = 42;
    {
        ZTSHARED_MEMORY second(Name(), 4096, true);
        ASSERT_NE(second.View(), nullptr) << second.LastError();
        EXPECT_FALSE(second.Created());
        EXPECT_EQ(second.View()[7], 42);
    }
    // Only the creator removes the name.
    ZTSHARED_MEMORY opened(Name(), 0, false);
    EXPECT_NE(opened.View(), nullptr) << opened.LastError();
}

// Asking for more than the object holds gives no view rather than one whose
// tail faults on first touch.
TEST_F(ZtSharedMemoryTest, NeverMapsPastTheObjectsEnd) {
    ZTSHARED_MEMORY memory(Name(), 4096, true);
    ASSERT_NE(memory.View(), nullptr) << memory.LastError();
    struct Case {
        size_t size;
        bool create;
        size_t mapped;  // 0: no view
    };
    const Case cases[] = {{8192, false, 0}, {8192, true, 0}, {1000, false, 1000}, {0, false, 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.create ? " create" : " open"));
        ZTSHARED_MEMORY view(Name(), c.size, c.create);
        EXPECT_EQ(view.Size(), c.mapped);
        if (c.mapped == 0) {
            EXPECT_EQ(view.View(), nullptr);
            EXPECT_NE(view.LastError().find("4096"), std::string::npos) << view.LastError();
        } else {
            ASSERT_NE(view.View(), nullptr) << view.LastError();
            view.View()[c.mapped - 1] = 1;
        }
    }
}

TEST_F(ZtSharedMemoryTest, RefusesWhatItCannotSafelyUse) {
    ZTSHARED_MEMORY sizeless(Name(), 0, true);
    EXPECT_EQ(sizeless.View(), nullptr);
    EXPECT_FALSE(sizeless.LastError().empty());

    // An object under our name that others may open (planted, say) is not used.
    const int fd = shm_open(SharedObjectName(Name()).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fchmod(fd, 0666), 0);
    ASSERT_EQ(ftruncate(fd, 4096), 0);
    close(fd);
    for (bool create : {false, true}) {
        ZTSHARED_MEMORY planted(Name(), 4096, create);
        EXPECT_EQ(planted.View(), nullptr);
        EXPECT_NE(planted.LastError().find("refused"), std::string::npos) << planted.LastError();
    }
}

}  // namespace
}  // namespace velmora
