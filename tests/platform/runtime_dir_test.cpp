#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace velmora {
namespace {

// Restores an environment variable when the case ends.
class EnvVar {
  public:
    explicit EnvVar(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) saved_ = value;
    }
    ~EnvVar() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    void Set(const std::string& value) { setenv(name_, value.c_str(), 1); }
    void Unset() { unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

class RuntimeDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-rtdir-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(base_); }

    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    EnvVar root_{"ZTVL_ROOT"};
    EnvVar xdg_{"XDG_RUNTIME_DIR"};
    std::string base_;
};

TEST_F(RuntimeDirTest, ZtvlRootWinsAndIsCreatedPrivateWhateverTheUmask) {
    root_.Set(base_ + "/a/b/");
    xdg_.Set(base_);
    const mode_t old = umask(0777);
    const std::string dir = RuntimeDir();
    umask(old);
    EXPECT_EQ(dir, base_ + "/a/b");
    EXPECT_EQ(ModeOf(base_ + "/a"), 0700u);
    EXPECT_EQ(ModeOf(base_ + "/a/b"), 0700u);
    EXPECT_EQ(RuntimePath("ZTBRK.LOG"), base_ + "/a/b/ZTBRK.LOG");
}

TEST_F(RuntimeDirTest, WithoutZtvlRootItLivesUnderTheXdgRuntimeDir) {
    root_.Unset();
    xdg_.Set(base_);
    EXPECT_EQ(RuntimeDir(), base_ + "/velmora");
    EXPECT_EQ(ModeOf(base_ + "/velmora"), 0700u);
    root_.Set("");  // empty counts as unset
    EXPECT_EQ(RuntimeDir(), base_ + "/velmora");
}

TEST_F(RuntimeDirTest, RefusesPlacesOthersCouldWriteToAndPathsThatAreNotFileNames) {
    const std::string open = base_ + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const std::string file = base_ + "/file";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);

    for (const std::string& root : {open, file, file + "/below"}) {
        SCOPED_TRACE(root);
        root_.Set(root);
        std::string why;
        EXPECT_EQ(RuntimeDir(&why), "");
        EXPECT_NE(why.find(root), std::string::npos) << why;
        EXPECT_EQ(RuntimePath("ZTBRK.LOG"), "");
    }

    root_.Set(base_);
    for (const char* name : {"", ".", "..", "../ZTBRK.LOG", "a/b"}) {
        SCOPED_TRACE(name);
        std::string why;
        EXPECT_EQ(RuntimePath(name, &why), "");
        EXPECT_FALSE(why.empty());
    }
}

}  // namespace
}  // namespace velmora
