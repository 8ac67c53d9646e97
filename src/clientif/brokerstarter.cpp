#include "clientif/brokerstarter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "clientif/brokernames.h"
#include "clientif/ztif_codes.h"
#include "platform/tick.h"

extern char** environ;

namespace velmora {
namespace {

constexpr uint32_t kAwaitStepMs = 10;

bool IsProgram(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string OwnFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return {};
    const std::string exe(buffer, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

}  // namespace

std::string BrokerStarter::FindProgram(const std::string& override, std::string* why) {
    std::string program = override;
    if (program.empty()) {
        const char* fromEnvironment = std::getenv(kBrokerProgramVariable);
        program = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    if (program.empty()) program = kBrokerProgramName;
    if (program.find('/') != std::string::npos) {
        if (IsProgram(program)) return program;
        if (why) *why = "the broker program " + program + " does not exist or cannot be run";
        return {};
    }
    std::vector<std::string> folders;
    const std::string own = OwnFolder();
    if (!own.empty()) folders.push_back(own);
    const char* path = std::getenv("PATH");
    for (std::string rest = path != nullptr ? path : ""; !rest.empty();) {
        const size_t colon = rest.find(':');
        const std::string folder = rest.substr(0, colon);
        // An empty entry would mean the current directory: not searched.
        if (!folder.empty()) folders.push_back(folder);
        rest = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    }
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + program;
        if (IsProgram(candidate)) return candidate;
    }
    if (why) {
        *why = "the broker program " + program + " was found neither next to this program (" +
               (own.empty() ? std::string("unknown folder") : own) + ") nor on PATH";
    }
    return {};
}

int32_t BrokerStarter::Start(const std::string& program, const std::string& brokerName, bool show,
                             pid_t* pid, std::string* why) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    std::string argument0 = program;
    std::string argument1 = brokerName;
    std::string argument2 = show ? kBrokerShowArgument : kBrokerHideArgument;
    char* arguments[] = {argument0.data(), argument1.data(), argument2.data(), nullptr};
    const int rc = posix_spawn(pid, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (why) *why = "cannot start the broker program " + program + ": " + std::strerror(rc);
        return nleHostExcuteNotFound;
    }
    std::lock_guard<std::mutex> guard(lock_);
    children_.push_back({*pid, false});
    return nleOk;
}

int BrokerStarter::Poll(pid_t pid, int* status) {
    pid_t done;
    do {
        done = waitpid(pid, status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0) return 0;
    return done == pid ? 1 : -1;
}

void BrokerStarter::Forget(pid_t pid) {
    std::erase_if(children_, [pid](const Child& c) { return c.pid == pid; });
}

int32_t BrokerStarter::Check(pid_t pid, bool* ended, std::string* why) {
    std::lock_guard<std::mutex> guard(lock_);
    int status = 0;
    const int polled = Poll(pid, &status);
    *ended = polled != 0;
    if (polled == 0) return nleOk;
    Forget(pid);
    if (polled < 0) {
        if (why)
            *why = "the state of the broker process " + std::to_string(pid) + " cannot be asked";
        return nleHostExcuteNotFound;
    }
    if (WIFSIGNALED(status)) {
        if (why) {
            *why = "the broker process ended at once by signal " +
                   std::to_string(WTERMSIG(status)) + " (" + sigdescr_np(WTERMSIG(status)) + ")";
        }
        return nleHostExcuteError;
    }
    // Exit codes are 8 bits; the broker's -1 arrives as 255.
    const auto code = static_cast<int8_t>(WEXITSTATUS(status));
    if (code < 0) {
        if (why) {
            *why = "the broker program ended at once with exit code " + std::to_string(code) +
                   " (its network engine could not start)";
        }
        return nleHostExcuteError;
    }
    return nleOk;
}

void BrokerStarter::Settle(pid_t pid) {
    std::lock_guard<std::mutex> guard(lock_);
    for (Child& child : children_) {
        if (child.pid == pid) child.settled = true;
    }
}

void BrokerStarter::ReapEnded() {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(children_, [](const Child& c) {
        int status = 0;
        return c.settled && Poll(c.pid, &status) != 0;
    });
}

void BrokerStarter::AwaitEnd(uint32_t limitMs) {
    const uint32_t begin = Tick();
    for (;;) {
        ReapEnded();
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (std::none_of(children_.begin(), children_.end(),
                             [](const Child& c) { return c.settled; })) {
                return;
            }
        }
        if (TickSince(begin) >= limitMs) return;
        SleepMs(kAwaitStepMs);
    }
}

}  // namespace velmora
