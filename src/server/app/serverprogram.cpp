#include "server/app/serverprogram.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "hook/zthook.h"
#include "platform/ini_file.h"
#include "platform/tick.h"
#include "server/app/liveconfig.h"
#include "server/app/zthookevents.h"
#include "server/engine/ztserver.h"
#include "server/screen/tclientsession.h"
#include "server/screen/tscreencapture.h"
#include "server/screen/userlist.h"
#include "server/screen/xscreensaverguard.h"
#include "server/screen/xtestinjector.h"

namespace velmora {
namespace {

constexpr int32_t kViewerConnection = 4;

std::string Now() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    // "yy-mm-dd hh:nn:ss", as the user list shows logon times.
    char text[32] = {};
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_year % 100,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string OpenFailure(int32_t rc, uint16_t port) {
    const std::string ports =
        "UDP ports " + std::to_string(port) + " and " + std::to_string(port + 1);
    switch (rc) {
        case ZTSERVER::kBindFailed:
            return "cannot bind " + ports +
                   ": another program uses one of them (or P + 1 is beyond 65535); "
                   "change [SOCKET] PORT in ZTVLSRV.INI";
        case ZTSERVER::kNoReceiveSocket:
        case ZTSERVER::kNoSendSocket:
            return "cannot create the UDP sockets for " + ports;
        case ZTSERVER::kNoAddress:
            return "no local address to bind " + ports;
        default:
            return "cannot open " + ports + " (code " + std::to_string(rc) + ")";
    }
}

}  // namespace

ServerProgram::ServerProgram(ServerOptions options, ServerReport report)
    : options_(std::move(options)), report_(std::move(report)) {}

ServerProgram::~ServerProgram() {
    Shutdown();
}

void ServerProgram::Trace(const std::string& text) {
    if (report_.trace) report_.trace(text);
}

int ServerProgram::Start(std::string* error) {
    const int lock = lock_.Acquire(error);
    if (lock == InstanceLock::kHeld) {
        *error = "VelmoraServer is already running for this user (" + lock_.Path() + ")";
        return kAlreadyRunning;
    }
    if (lock != InstanceLock::kAcquired) return kNoRuntimeDir;

    // The configuration; a missing file gives the defaults.
    ini_ = std::make_unique<IniFile>(options_.configFile.empty() ? ConfigFilePath()
                                                                 : options_.configFile);
    if (ini_->Load() == iniReadFailed) Trace(ini_->Path() + ": cannot be read; defaults used");
    const VelmoraConfig loaded = ReadConfig(*ini_);
    port_ = loaded.port;
    options_.ApplyIni(*ini_);
    config_ = std::make_unique<LiveConfig>(loaded);
    users_ = std::make_unique<UserList>();

    // Viewer input and the screen saver belong to the X desktop being shared;
    // a synthetic screen has neither, and its viewers' input is dropped.
    const bool x11 = options_.source.empty() || options_.source == "x11";
    if (x11) {
        injector_ = std::make_unique<XTestInjector>(
            options_.display, ini_->ReadString("SECURE ATTENTION", "COMMAND", ""));
        saver_ = std::make_unique<XScreenSaverGuard>(options_.display);
        windowEvents_ = std::make_unique<ZthookEvents>();
    }
    CaptureEnvironment env;
    env.injector = injector_.get();
    env.windowEvents = windowEvents_.get();
    env.screenSaver = saver_.get();
    env.onStatus = report_.status;
    env.onError = report_.error;
    env.onTrace = report_.trace;
    ZTVL::Options source;
    source.arguments = options_.SourceArguments();
    capture_ = std::make_unique<TScreentCapture>(source, *config_, *users_, env);

    services_.users = users_.get();
    services_.capture = capture_.get();
    services_.injector = injector_.get();
    services_.config = config_.get();
    services_.onConnect = [this](ViewerSession& s) {
        if (report_.userConnected) report_.userConnected(s.Name(), Now());
    };
    services_.onDisconnect = [this](ViewerSession& s) {
        if (report_.userDisconnected) report_.userDisconnected(s.Name());
    };
    services_.onTrace = report_.trace;

    engine_ = std::make_unique<ZTSERVER>(kManagers, kHostsPerManager);
    const int32_t opened = engine_->Open(nullptr, port_, kSocketBuffer, kSocketBuffer);
    if (opened != ZTSERVER::kOpened) {
        *error = OpenFailure(opened, port_);
        Shutdown();
        return kPortUnavailable;
    }
    engine_->mode = emClientThread;
    engine_->callbacks.OnCreateClientThread = [this](ZTHOSTLIST&, int32_t connectionType) {
        return CreateSession(connectionType);
    };
    if (engine_->Start() != 1) {
        *error = "the network engine could not be started";
        Shutdown();
        return kEngineFailed;
    }
    started_ = true;
    Trace("listening on UDP ports " + std::to_string(port_) + " and " + std::to_string(port_ + 1));

    if (x11) {
        hooked_ = SetHooks(0, 0) == 1;
        if (!hooked_)
            Trace("window drags are not followed: the window-event watcher did not start");
    }
    if (!capture_->Start()) {
        *error = "the capture thread could not be started";
        Shutdown();
        return kCaptureFailed;
    }
    return kStarted;
}

std::unique_ptr<ZTSERVERCLIENT_THREAD> ServerProgram::CreateSession(int32_t connectionType) {
    if (connectionType != kViewerConnection) return nullptr;
    auto session = std::make_unique<VelClient>(services_);
    users_->Add(session.get());
    return session;
}

int ServerProgram::Status() const {
    return capture_ != nullptr ? capture_->Initialised() : TScreentCapture::kSourceMissing;
}

void ServerProgram::Shutdown() {
    if (capture_ != nullptr) capture_->Stop();
    if (engine_ != nullptr) {
        engine_->Shutdown();  // ends and destroys every session
        engine_.reset();
        if (started_) SleepMs(kFinalWaitMs);
    }
    started_ = false;
    capture_.reset();
    users_.reset();
    if (hooked_) {
        SetUnHooks();
        hooked_ = false;
    }
}

}  // namespace velmora
