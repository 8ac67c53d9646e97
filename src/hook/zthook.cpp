#include "hook/zthook.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "hook/hookqueue.h"
#include "hook/hookwatcher.h"

namespace velmora {
namespace {

inline constexpr char kHookMutexName[] = "ZTHOOK";
inline constexpr char kHookMemoryName[] = "ZTHOOKQUEUE";

// The library's state in this process. Lock: lock guards watcher (started
// and stopped from any thread of the caller); it is taken before the
// queue's mutex.
struct HookLibrary {
    std::mutex lock;
    HookQueue queue{kHookMutexName, kHookMemoryName};
    std::unique_ptr<HookWatcher> watcher;

    ~HookLibrary() {
        if (watcher != nullptr) watcher->Stop();  // before the queue goes away
    }
};

HookLibrary& Library() {
    static HookLibrary library;
    return library;
}

}  // namespace
}  // namespace velmora

using velmora::HOOKEVENT;
using velmora::HOOKSHARED;
using velmora::Library;

uint8_t SetHooks(uintptr_t ownerWindow, uint32_t ownerMessage) {
    auto& lib = Library();
    std::lock_guard<std::mutex> guard(lib.lock);
    HOOKSHARED* shared = lib.queue.Shared();
    if (shared == nullptr) {
        std::fprintf(stderr, "ZTHOOK: %s\n", lib.queue.LastError().c_str());
        return 0;
    }
    shared->ownerWindow = static_cast<uint32_t>(ownerWindow);
    shared->ownerMessage = ownerMessage;
    if (lib.watcher != nullptr) return 1;
    auto watcher = std::make_unique<velmora::HookWatcher>(lib.queue);
    std::string error;
    if (!watcher->Open(&error) || !watcher->Start()) {
        std::fprintf(stderr, "ZTHOOK: window events are not watched: %s\n",
                     error.empty() ? "the watcher thread did not start" : error.c_str());
        return 0;
    }
    lib.watcher = std::move(watcher);
    shared->hookHandles[0] = static_cast<uint64_t>(getpid());
    return 1;
}

uint8_t SetUnHooks(void) {
    auto& lib = Library();
    std::lock_guard<std::mutex> guard(lib.lock);
    HOOKSHARED* shared = lib.queue.Shared();
    if (shared != nullptr) shared->hideMouse = 0;
    if (lib.watcher != nullptr) {
        lib.watcher->Stop();  // stores the pointer's position
        lib.watcher.reset();
    }
    if (shared != nullptr) {
        for (auto& handle : shared->hookHandles) handle = 0;
    }
    lib.queue.Clear();
    return 1;
}

uint8_t GetQue(void* record) {
    if (record == nullptr) return 0;
    return Library().queue.Get(static_cast<HOOKEVENT*>(record)) ? 1 : 0;
}

int32_t GetQueCount(void) {
    return Library().queue.Count();
}

void GetMousePos(int32_t* point) {
    const HOOKSHARED* shared = Library().queue.Shared();
    if (point == nullptr) return;
    point[0] = shared != nullptr ? shared->mouseX.get() : 0;
    point[1] = shared != nullptr ? shared->mouseY.get() : 0;
}

uintptr_t GetCurrentCursor(void) {
    const HOOKSHARED* shared = Library().queue.Shared();
    return shared != nullptr ? static_cast<uintptr_t>(shared->currentCursor.get()) : 0;
}

uint8_t SetHideMouse(uint8_t flag) {
    if (HOOKSHARED* shared = Library().queue.Shared(); shared != nullptr) shared->hideMouse = flag;
    return flag;
}
