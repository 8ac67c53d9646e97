#include "viewer/headlessviewer.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "clientif/ztclientif.h"
#include "platform/pngcodec.h"
#include "platform/tick.h"
#include "viewer/brokerlink.h"
#include "viewer/viewcodes.h"

namespace velmora {
namespace {

// How long the broker gets to exit at the end before the program goes on.
constexpr uint32_t kBrokerStopLimitMs = 10000;
constexpr uint32_t kConnectPollMs = 50;

// A deadline `ms` ahead, never 0 (0 means none).
uint32_t Ahead(uint32_t ms) {
    const uint32_t t = Tick() + ms;
    return t == 0 ? 1 : t;
}

// Milliseconds until `deadline` (0 when passed); UINT32_MAX for none.
uint32_t Until(uint32_t deadline) {
    if (deadline == 0) return UINT32_MAX;
    const int32_t left = static_cast<int32_t>(deadline - Tick());
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

}  // namespace

HeadlessViewer::HeadlessViewer(HeadlessOptions options) : options_(std::move(options)) {}

HeadlessViewer::~HeadlessViewer() {
    view_.reset();
    if (signalFd_ >= 0) close(signalFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

void HeadlessViewer::Print(const std::string& line, bool error) {
    std::lock_guard<std::mutex> guard(outputLock_);
    std::FILE* out = error ? stderr : stdout;
    std::fprintf(out, "%s%s\n", error ? "VelmoraViewer: " : "", line.c_str());
    std::fflush(out);
}

bool HeadlessViewer::OpenSignals(std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    // Blocked before any thread starts, so every thread inherits the mask and
    // only the signalfd sees them.
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        *error = "cannot block signals";
        return false;
    }
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || wakeFd_ < 0) {
        *error = std::string("cannot wait for signals: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void HeadlessViewer::OnScreenChanged(int width, int height) {
    lastChange_.store(Tick());
    if (view_ != nullptr && view_->Result() == vrConnected) {
        Print("screen " + std::to_string(width) + "x" + std::to_string(height));
    }
}

void HeadlessViewer::OnPictureChanged(const ViewRect*, int) {
    lastChange_.store(Tick());
}

void HeadlessViewer::OnControlAnswer(int flag, int code) {
    // As the window does: the answer decides whether this viewer holds the
    // right, whatever it asked.
    view_->SetHoldsControl(flag == 1);
    lastControlCode_.store(code);
    controlAnswers_.fetch_add(1);
    if (flag == 1) {
        Print("control granted");
    } else {
        Print("control not granted, code " + std::to_string(code) +
              (code == caTaken       ? " (제어권이 자동 이양 되었습니다.)"
               : code == caForbidden ? " (제어권을 얻을 수 없습니다.(제어금지))"
                                     : ""));
    }
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
}

void HeadlessViewer::OnMemberListChanged() {}

void HeadlessViewer::OnConnectionLost() {
    lost_.store(true);
    Print(options_.address + "-통신 끊어짐: 연결이 끊어짐 (the connection to the server was lost)",
          true);
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
}

bool HeadlessViewer::Pump(uint32_t ms, bool readInput) {
    const uint32_t end = Ahead(ms);
    while (!ending_) {
        uint32_t wait = std::min({Until(end), Until(nextSnapshot_), Until(nextFigures_)});
        const uint32_t left =
            Until(options_.durationMs != 0 ? startTick_ + options_.durationMs : 0);
        if (options_.durationMs != 0 && startTick_ != 0) wait = std::min(wait, left);
        pollfd fds[3] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t count = readInput && inputOpen_ ? 3 : 2;
        const int timeout = wait > 60000 ? 60000 : static_cast<int>(wait);
        if (poll(fds, count, timeout) < 0 && errno != EINTR) return !(ending_ = true);
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            while (read(signalFd_, &info, sizeof(info)) == sizeof(info)) {
                if (info.ssi_signo == SIGUSR1 && !options_.snapshotFile.empty()) {
                    Snapshot(options_.snapshotFile);
                } else if (info.ssi_signo != SIGUSR1) {
                    ending_ = true;
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t n;
            (void)!read(wakeFd_, &n, sizeof(n));
        }
        if (lost_.load()) ending_ = true;
        if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP))) {
            char buffer[4096];
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
            if (n <= 0) {
                inputOpen_ = false;
            } else {
                inputPartial_.append(buffer, static_cast<size_t>(n));
            }
            size_t newline;
            while ((newline = inputPartial_.find('\n')) != std::string::npos) {
                inputLines_.push_back(inputPartial_.substr(0, newline));
                inputPartial_.erase(0, newline + 1);
            }
            if (!inputOpen_ && !inputPartial_.empty()) {
                inputLines_.push_back(std::move(inputPartial_));
                inputPartial_.clear();
            }
            if (!inputLines_.empty() || !inputOpen_) return !ending_;
        }
        if (nextSnapshot_ != 0 && Until(nextSnapshot_) == 0) {
            Snapshot(options_.snapshotFile);
            nextSnapshot_ = Ahead(options_.snapshotEveryMs);
        }
        if (nextFigures_ != 0 && Until(nextFigures_) == 0) {
            PrintFigures();
            nextFigures_ = Ahead(options_.figuresEveryMs);
        }
        if (options_.durationMs != 0 && startTick_ != 0 && left == 0) ending_ = true;
        if (Until(end) == 0) break;
    }
    return !ending_;
}

bool HeadlessViewer::Connect() {
    ViewParams params;
    params.target.brokerName = options_.brokerName;
    params.target.serverAddress = options_.address;
    params.target.serverPort = options_.port;
    params.target.showBroker = options_.showBroker ? 1 : 0;
    view_ = std::make_unique<TVelmoraView>(params, MakeBrokerLink(), this);
    if (!view_->Start()) {
        Print("cannot start the view thread", true);
        return false;
    }
    while (view_->Result() == vrConnecting) {
        if (!Pump(kConnectPollMs, false)) return false;
    }
    const int result = view_->Result();
    if (result != vrConnected) {
        Print(options_.address + ": " + ViewResultText(result) + " (" + view_->FailureText() + ")",
              true);
        return false;
    }
    startTick_ = Tick();
    if (startTick_ == 0) startTick_ = 1;
    lastChange_.store(startTick_);
    const SCREEN_INFO screen = view_->Dispatcher().Screen();
    Print("connected to " + options_.address + ":" + std::to_string(options_.port) + ", screen " +
          std::to_string(int{screen.width}) + "x" + std::to_string(int{screen.height}) + " depth " +
          std::to_string(int{screen.depth}));
    if (options_.snapshotEveryMs != 0) nextSnapshot_ = Ahead(options_.snapshotEveryMs);
    if (options_.figuresEveryMs != 0) nextFigures_ = Ahead(options_.figuresEveryMs);
    return true;
}

int HeadlessViewer::Run() {
    std::string error;
    if (!OpenSignals(&error)) {
        Print(error, true);
        return kExitNoConnection;
    }
    std::vector<ScriptCommand> script;
    if (!options_.scriptFile.empty() && !ViewerScript::Load(options_.scriptFile, &script, &error)) {
        Print(error, true);
        return kExitBadArguments;
    }
    ZtifSettings settings = ZtifGetSettings();
    settings.stopLimitMs = kBrokerStopLimitMs;
    ZtifSetSettings(settings);

    const bool connected = Connect();
    if (connected) {
        bool go = true;
        for (const ScriptCommand& command : script) {
            if (!(go = Execute(command) && !ending_)) break;
        }
        if (go && options_.commands) {
            RunCommands();
        } else if (go && (script.empty() || options_.durationMs != 0)) {
            while (Pump(60000, false)) {
            }
        }
    }
    const bool wasConnected = connected;
    Finish();
    if (!wasConnected) return view_ != nullptr && lost_.load() ? kExitLost : kExitNoConnection;
    return lost_.load() ? kExitLost : kExitOk;
}

void HeadlessViewer::RunCommands() {
    while (!ending_) {
        if (inputLines_.empty()) {
            if (!inputOpen_) return;
            if (!Pump(60000, true)) return;
            continue;
        }
        const std::string line = std::move(inputLines_.front());
        inputLines_.pop_front();
        ScriptCommand command;
        std::string error;
        const int parsed = ViewerScript::ParseLine(line, &command, &error);
        if (parsed < 0) {
            Print(error, true);
        } else if (parsed > 0 && !Execute(command)) {
            return;
        }
    }
}

void HeadlessViewer::Finish() {
    // The last picture is written even after a lost connection, while the
    // view still holds it.
    if (view_ != nullptr && startTick_ != 0 && !options_.snapshotFile.empty()) {
        Snapshot(options_.snapshotFile);
    }
    if (view_ != nullptr && startTick_ != 0) PrintFigures();
    if (view_ != nullptr) view_->Stop();
    if (!options_.keepBroker) ZtifStopBroker(options_.brokerName.c_str());
}

}  // namespace velmora
