// VelmoraServer --headless as its own process: the single instance, a port
// that cannot be bound, and the shut-down on SIGTERM with a viewer logged on.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "serverfixture.h"
#include "testviewer.h"

extern char** environ;

namespace velmora {
namespace {

using testing::WaitUntil;

std::string ProgramPath() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? size_t(n) : 0);
    return path.substr(0, path.rfind('/')) + "/VelmoraServer";
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// One VelmoraServer run in `dir`, its output in dir/out.N and dir/err.N.
class ServerProcess {
  public:
    ServerProcess(const std::string& dir, int n)
        : out_(dir + "/out." + std::to_string(n)), err_(dir + "/err." + std::to_string(n)) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        const std::string program = ProgramPath();
        const char* argv[] = {program.c_str(), "--headless", nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServerProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0; }
    std::string Out() const { return ReadAll(out_); }
    std::string Err() const { return ReadAll(err_); }
    bool OutHas(const std::string& text) const { return Out().find(text) != std::string::npos; }
    // The exit code, or -1 when it did not end within limitMs.
    int Wait(uint32_t limitMs) {
        int status = 0;
        const bool ended =
            WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limitMs);
        if (!ended) return -1;
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int sig) const { kill(pid_, sig); }

  private:
    std::string out_, err_;
    pid_t pid_ = 0;
    bool exited_ = false;
};

class VelmoraServerTest : public testing::ServerFixture {
  protected:
    void WriteIni() {
        std::ofstream ini(dir_ + "/ZTVLSRV.INI");
        for (const auto& [section, keys] : ini_) {
            ini << "[" << section << "]\n";
            for (const auto& [key, value] : keys) ini << key << "=" << value << "\n";
        }
    }
};

TEST_F(VelmoraServerTest, ASecondServerOfTheSameUserExitsWithAClearMessage) {
    WriteIni();
    ServerProcess first(dir_, 1);
    ASSERT_TRUE(first.Running());
    ASSERT_TRUE(WaitUntil([&] { return first.OutHas("status: "); })) << first.Out() << first.Err();
    ServerProcess second(dir_, 2);
    EXPECT_EQ(second.Wait(10000), 1);
    EXPECT_NE(second.Err().find("already running"), std::string::npos) << second.Err();
    // The first goes on serving, and stops cleanly.
    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(15000), 0);
}

TEST_F(VelmoraServerTest, APortThatCannotBeBoundIsReportedAndTheExitIsNonZero) {
    // Something else holds P + 1.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port_ + 1));
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    WriteIni();
    ServerProcess server(dir_, 1);
    EXPECT_EQ(server.Wait(10000), 1);
    EXPECT_NE(server.Err().find("cannot bind UDP ports " + std::to_string(port_)),
              std::string::npos)
        << server.Err();
    close(holder);
}

TEST_F(VelmoraServerTest, SigtermEndsSessionsAndTheScreenSourceAndExitsZero) {
    WriteIni();
    ServerProcess server(dir_, 1);
    ASSERT_TRUE(WaitUntil([&] { return server.OutHas("status: "); })) << server.Err();
    const std::string out = server.Out();
    const std::string mark = "screen source running (pid ";
    const size_t at = out.find(mark);
    ASSERT_NE(at, std::string::npos) << out;
    const pid_t source = pid_t(std::atol(out.c_str() + at + mark.size()));
    ASSERT_GT(source, 0);

    testing::TestViewer viewer(2, 1);
    ASSERT_TRUE(viewer.Connect(port_));
    ASSERT_EQ(viewer.LogOn().answer.accepted, 1);
    ASSERT_TRUE(WaitUntil([&] { return server.OutHas("user connected: 127.0.0.2 "); }));

    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(20000), 0) << server.Err();
    EXPECT_TRUE(server.OutHas("trace: shutting down"));
    EXPECT_TRUE(server.OutHas("user disconnected: 127.0.0.2"));
    EXPECT_TRUE(kill(source, 0) != 0 && errno == ESRCH) << "the screen source was stopped";
}

}  // namespace
}  // namespace velmora
