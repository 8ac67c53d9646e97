// The access-violation guard, with real faults. This program runs with the
// sanitizer's own SIGSEGV handling off (see CMakeLists.txt), as the guard
// needs the signals for itself.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform/ztsecurity.h"

namespace velmora {
namespace {

// Memory that faults when touched: a page without access (SIGSEGV), or the
// second page of a mapping of a one-page file (SIGBUS).
class FaultingMemory {
  public:
    FaultingMemory() {
        noAccess_ = mmap(nullptr, kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        const int fd = memfd_create("guard-test", MFD_CLOEXEC);
        if (fd >= 0 && ftruncate(fd, kPage) == 0) {
            pastEnd_ = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        if (fd >= 0) close(fd);
    }
    ~FaultingMemory() {
        if (noAccess_ != MAP_FAILED) munmap(noAccess_, kPage);
        if (pastEnd_ != MAP_FAILED) munmap(pastEnd_, 2 * kPage);
    }
    bool Ready() const { return noAccess_ != MAP_FAILED && pastEnd_ != MAP_FAILED; }
    volatile uint8_t* NoAccess() const { return static_cast<volatile uint8_t*>(noAccess_); }
    volatile uint8_t* PastEnd() const { return static_cast<volatile uint8_t*>(pastEnd_) + kPage; }

  private:
    static constexpr size_t kPage = 4096;
    void* noAccess_ = MAP_FAILED;
    void* pastEnd_ = MAP_FAILED;
};

struct LoopState {
    volatile uint8_t* target = nullptr;  // touched after the first turns; null: no fault
    int turns = 0;
};

void Loop(void* context) {
    auto* state = static_cast<LoopState*>(context);
    for (state->turns = 0; state->turns < 10; ++state->turns) {
        if (state->turns == 3 && state->target != nullptr) *state->target = 1;
    }
}

TEST(ZtSecurityGuard, AFaultEndsTheGuardedLoopAndItsThreadCarriesOn) {
    FaultingMemory memory;
    ASSERT_TRUE(memory.Ready());
    struct Case {
        const char* what;
        volatile uint8_t* target;
        uint32_t code;
        int turns;
    };
    const Case cases[] = {
        {"no fault", nullptr, 0, 10},
        {"SIGSEGV", memory.NoAccess(), kExceptionAccessViolation, 3},
        {"SIGBUS", memory.PastEnd(), kExceptionInPageError, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t code = 1;
        int afterwards = 0;
        LoopState state;
        state.target = c.target;
        std::thread worker([&] {
            code = ZTSECURITY::RunGuarded(&Loop, &state);
            // The thread goes on, and a second guarded loop works as well.
            LoopState again;
            if (ZTSECURITY::RunGuarded(&Loop, &again) == 0) afterwards = again.turns;
        });
        worker.join();
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(state.turns, c.turns);
        EXPECT_EQ(afterwards, 10);
    }
    EXPECT_EQ(ZTSECURITY::ExceptionName(kExceptionAccessViolation), "EXCEPTION_ACCESS_VIOLATION");
    EXPECT_EQ(ZTSECURITY::ExceptionName(kExceptionInPageError), "EXCEPTION_IN_PAGE_ERROR");
}

struct Nested {
    volatile uint8_t* target;
    uint32_t innerCode = 1;
    bool outerFinished = false;
};

TEST(ZtSecurityGuard, GuardsNestAndOnlyTheInnermostCatches) {
    FaultingMemory memory;
    ASSERT_TRUE(memory.Ready());
    Nested nested{memory.NoAccess()};
    const uint32_t outer = ZTSECURITY::RunGuarded(
        [](void* context) {
            auto* n = static_cast<Nested*>(context);
            n->innerCode = ZTSECURITY::RunGuarded(
                [](void* inner) { *static_cast<Nested*>(inner)->target = 1; }, n);
            n->outerFinished = true;
        },
        &nested);
    EXPECT_EQ(outer, 0u);
    EXPECT_EQ(nested.innerCode, kExceptionAccessViolation);
    EXPECT_TRUE(nested.outerFinished);
}

// Deeper than any stack (the limit is only out of the compiler's sight);
// each frame keeps a buffer the compiler cannot drop.
volatile int gRecursionLimit = 1 << 30;

int Recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth >= gRecursionLimit) return frame[0];
    return Recurse(depth + 1) + frame[0];
}

// The handler runs on an alternate stack, so even a fault that used up the
// thread's own stack is caught.
TEST(ZtSecurityGuard, CatchesAStackOverflowInTheLoop) {
    uint32_t code = 1;
    std::thread worker(
        [&] { code = ZTSECURITY::RunGuarded([](void*) { (void)Recurse(0); }, nullptr); });
    worker.join();
    EXPECT_EQ(code, kExceptionAccessViolation);
}

TEST(ZtSecurityGuard, GuardsOfOneThreadDoNotCatchAnothersFaults) {
    // While this thread sits in a guard, a fault on another, unguarded thread
    // keeps its default outcome: the process dies of it.
    auto faultElsewhere = [] {
        FaultingMemory memory;
        (void)ZTSECURITY::RunGuarded(
            [](void* context) {
                auto* m = static_cast<FaultingMemory*>(context);
                std::thread([m] { *m->NoAccess() = 1; }).join();
            },
            &memory);
    };
    EXPECT_EXIT(faultElsewhere(), ::testing::KilledBySignal(SIGSEGV), "");
}

TEST(ZtSecurityGuard, AFaultOutsideAnyGuardKeepsTheDefaultOutcome) {
    LoopState state;
    ASSERT_EQ(ZTSECURITY::RunGuarded(&Loop, &state), 0u);  // handlers now installed
    auto faultUnguarded = [] {
        FaultingMemory memory;
        *memory.PastEnd() = 1;
    };
    EXPECT_EXIT(faultUnguarded(), ::testing::KilledBySignal(SIGBUS), "");
}

}  // namespace
}  // namespace velmora
