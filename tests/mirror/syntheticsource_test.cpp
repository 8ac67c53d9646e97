// The synthetic source as a program: what it leaves in the files, and how it
// starts and stops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "mirror/syntheticscene.h"
#include "mirror/ztvlshare.h"
#include "platform/tick.h"

extern char** environ;

namespace velmora {
namespace {

std::string ProgramPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, size_t(n > 0 ? n : 0));
    return path.substr(0, path.rfind('/') + 1) + "ZTVL";
}

bool WaitFor(const std::function<bool()>& done, uint32_t limitMs = 10000) {
    const uint32_t begin = Tick();
    while (!done()) {
        if (TickSince(begin) > limitMs) return false;
        SleepMs(2);
    }
    return true;
}

class SyntheticSourceProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmora-synth-XXXXXX";
        dir_ = mkdtemp(name);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (control_ >= 0) close(control_);
        if (view_ != nullptr) munmap(view_, size_);
        (void)!std::system(("rm -rf " + dir_).c_str());
    }

    // Starts ZTVL with a control socket and waits for its ready line.
    void Start(std::vector<std::string> args) {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        args.insert(args.begin(), ProgramPath());
        for (const char* a : {"--dir", dir_.c_str(), "--control-fd", "3"}) args.emplace_back(a);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], 3);
        ASSERT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(pair[1]);
        control_ = pair[0];
        char line[64] = {};
        ASSERT_GT(read(control_, line, sizeof line - 1), 0);
        ASSERT_EQ(std::string(line), "ZTVL Display Drivers\n");
        Map();
    }

    void Map() {
        if (view_ != nullptr) munmap(view_, size_);
        const int fd = open((dir_ + "/ZTVLSHARE.DAT").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        struct stat st {};
        fstat(fd, &st);
        size_ = size_t(st.st_size);
        void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(p, MAP_FAILED);
        view_ = static_cast<uint8_t*>(p);
    }

    SCREENFILE_HEADER& Header() { return *reinterpret_cast<SCREENFILE_HEADER*>(view_); }
    uint32_t FrameOnScreen() { return LoadFlag(Header().reserved2); }
    int StopAndWait() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
        return status;
    }

    std::string dir_;
    pid_t pid_ = 0;
    int control_ = -1;
    uint8_t* view_ = nullptr;
    size_t size_ = 0;
};

TEST_F(SyntheticSourceProgram, FileHoldsTheScenesFrameAndStopSetsSharingToZero) {
    Start({"--source", "synthetic", "--scene", "typing", "--size", "240x160", "--rate", "200",
           "--frames", "40"});
    EXPECT_EQ(Header().width.get(), 240u);
    EXPECT_EQ(Header().height.get(), 160u);
    EXPECT_EQ(LoadFlag(Header().drawn), 1u);
    StoreFlag(Header().sharing, 1);  // as the server does
    ASSERT_TRUE(WaitFor([&] { return FrameOnScreen() == 40; })) << FrameOnScreen();

    auto scene = SyntheticScene::Make("typing", 240, 160);
    std::vector<uint8_t> expected(240 * 160 * 4);
    scene->Draw(40, scene->Bounds(), FrameCanvas{expected.data(), 240, 160});
    EXPECT_EQ(std::memcmp(view_ + 32, expected.data(), expected.size()), 0);

    const int fd = open((dir_ + "/ZTVLSHAREP.DAT").c_str(), O_RDONLY);
    POINTERFILE_HEADER pointer{};
    ASSERT_EQ(pread(fd, &pointer, sizeof pointer, 0), ssize_t(sizeof pointer));
    close(fd);
    int x = 0;
    int y = 0;
    scene->PointerAt(40, &x, &y);
    EXPECT_EQ(pointer.x.get(), x);
    EXPECT_EQ(pointer.y.get(), y);
    EXPECT_EQ(pointer.colour.get(), 1u);
    EXPECT_EQ(pointer.shapeChanged.get(), 1u);

    const int status = StopAndWait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(LoadFlag(Header().sharing), 0u);
}

TEST_F(SyntheticSourceProgram, ModeSwitchReplacesTheFileAfterClearingSharing) {
    Start({"--source", "synthetic", "--scene", "window", "--size", "200x150", "--rate", "5",
           "--frames", "4", "--mode-switch", "3:120x90"});
    StoreFlag(Header().sharing, 1);
    ASSERT_TRUE(WaitFor([&] { return LoadFlag(Header().sharing) == 0; }));
    EXPECT_EQ(Header().width.get(), 200u);  // the old file keeps its header
    // The new file takes the name once its header is written.
    ASSERT_TRUE(WaitFor([&] {
        Map();
        return Header().width.get() == 120u;
    }));
    EXPECT_EQ(Header().height.get(), 90u);
    ASSERT_TRUE(WaitFor([&] { return FrameOnScreen() == 4; }));
    auto scene = SyntheticScene::Make("window", 120, 90);
    std::vector<uint8_t> expected(120 * 90 * 4);
    scene->Draw(4, scene->Bounds(), FrameCanvas{expected.data(), 120, 90});
    EXPECT_EQ(std::memcmp(view_ + 32, expected.data(), expected.size()), 0);
}

TEST_F(SyntheticSourceProgram, EndsWhenTheServerThatStartedItGoesAway) {
    Start({"--source", "synthetic", "--scene", "static", "--size", "64x64"});
    StoreFlag(Header().sharing, 1);
    close(control_);  // what the kernel does when the server dies
    control_ = -1;
    int status = 0;
    ASSERT_TRUE(WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }));
    pid_ = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(LoadFlag(Header().sharing), 0u);
}

}  // namespace
}  // namespace velmora
