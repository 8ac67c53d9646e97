#include "platform/ztsecurity.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace velmora {
namespace {

struct ExceptionEntry {
    uint32_t code;
    const char* name;
};

// The constant names of the platform headers for the codes that are named.
constexpr ExceptionEntry kExceptionNames[] = {
    {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0x80000003u, "EXCEPTION_BREAKPOINT"},
    {0x80000004u, "EXCEPTION_SINGLE_STEP"},
    {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
    {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"},
    {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION"},
    {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT"},
    {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION"},
    {0xC0000091u, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK"},
    {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, "EXCEPTION_INT_OVERFLOW"},
    {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
    {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
};
constexpr const char* kUnknownException = "UNKNOWN EXCETION";

const char* NameOf(uint32_t code) {
    for (const auto& entry : kExceptionNames) {
        if (entry.code == code) return entry.name;
    }
    return kUnknownException;
}

// One guard per RunGuarded call, on its stack; the innermost of this thread is
// tGuard. Initial-exec TLS: reading it in the signal handler never allocates,
// even when this code ends up in a shared library.
struct Guard {
    sigjmp_buf env;
    Guard* outer;
    volatile uint32_t code;
};
thread_local Guard* tGuard __attribute__((tls_model("initial-exec"))) = nullptr;

struct sigaction gPreviousSegv;
struct sigaction gPreviousBus;
std::once_flag gInstallOnce;

// A fault no guard of this thread wants goes where it would have gone without
// us: the previous handler (a sanitizer's, say), else the default action.
void PassOn(int sig, siginfo_t* info, void* context) {
    const struct sigaction& previous = sig == SIGBUS ? gPreviousBus : gPreviousSegv;
    const bool sent = info == nullptr || info->si_code <= 0;  // kill(), not a real fault
    if (previous.sa_handler == SIG_IGN && sent) return;
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        if ((previous.sa_flags & SA_SIGINFO) != 0) {
            previous.sa_sigaction(sig, info, context);
        } else {
            previous.sa_handler(sig);
        }
        return;
    }
    // Default action. A real fault happens again on return and ends the
    // process; a sent signal is raised again (it is delivered on return).
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(sig, &fallback, nullptr);
    if (sent) raise(sig);
}

void OnFault(int sig, siginfo_t* info, void* context) {
    Guard* guard = tGuard;
    if (guard != nullptr && info != nullptr && info->si_code > 0) {
        guard->code = sig == SIGBUS ? kExceptionInPageError : kExceptionAccessViolation;
        siglongjmp(guard->env, 1);
    }
    PassOn(sig, info, context);
}

void InstallHandlers() {
    struct sigaction action {};
    action.sa_sigaction = &OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &gPreviousSegv);
    sigaction(SIGBUS, &action, &gPreviousBus);
}

// An alternate signal stack for the thread while its outermost guard runs, so
// that a stack overflow in the loop can still be caught. A thread that has
// one already keeps it.
class AltStack {
  public:
    explicit AltStack(bool wanted) {
        stack_t current{};
        if (!wanted || sigaltstack(nullptr, &current) != 0 ||
            (current.ss_flags & SS_DISABLE) == 0) {
            return;
        }
        size_ = std::max<size_t>(64 * 1024, static_cast<size_t>(sysconf(_SC_SIGSTKSZ)) * 4);
        void* memory =
            mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return;
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = size_;
        if (sigaltstack(&stack, nullptr) != 0) {
            munmap(memory, size_);
            return;
        }
        memory_ = memory;
    }
    ~AltStack() {
        if (memory_ == nullptr) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory_, size_);
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

  private:
    void* memory_ = nullptr;
    size_t size_ = 0;
};

}  // namespace

bool ZTSECURITY::CheckPacket(const uint8_t* packet, size_t length) {
    // A hook for packet inspection; every packet is accepted unchanged.
    (void)packet;
    (void)length;
    return true;
}

void ZTSECURITY::ExceptionName(uint32_t code, char* text, size_t textSize) {
    if (text == nullptr || textSize == 0) return;
    const char* name = NameOf(code);
    const size_t length = std::min(std::strlen(name), textSize - 1);
    std::memcpy(text, name, length);
    text[length] = '\0';
}

std::string ZTSECURITY::ExceptionName(uint32_t code) {
    return NameOf(code);
}

uint32_t ZTSECURITY::RunGuarded(void (*loop)(void* context), void* context) {
    if (loop == nullptr) return 0;
    std::call_once(gInstallOnce, &InstallHandlers);
    AltStack altStack(tGuard == nullptr);
    Guard guard;
    guard.outer = tGuard;
    guard.code = 0;
    // The signal mask is saved, so the jump back also unblocks the signal.
    if (sigsetjmp(guard.env, 1) != 0) {
        tGuard = guard.outer;
        return guard.code;
    }
    tGuard = &guard;
    try {
        loop(context);
    } catch (...) {
        tGuard = guard.outer;
        throw;
    }
    tGuard = guard.outer;
    return 0;
}

}  // namespace velmora
