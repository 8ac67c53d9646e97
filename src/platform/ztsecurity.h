// Packet-check hook and the access-violation guard around a thread's loop.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstddef>
#include <string>

namespace velmora {

inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005u;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006u;

class ZTSECURITY {
public:
    // Called by both receive loops on every 1024-byte datagram before it is
    // queued; accepts every packet and changes nothing.
    static bool CheckPacket(const uint8_t* packet, size_t length);

    // The constant name of an exception code, for twenty codes; any other
    // gives "UNKNOWN EXCETION". Writes at most textSize bytes (NUL included).
    static void ExceptionName(uint32_t code, char* text, size_t textSize);
    static std::string ExceptionName(uint32_t code);

    // Runs loop(context) with SIGSEGV and SIGBUS caught on this thread. A
    // fault inside ends the loop only: the answer is the exception code of
    // the fault (kExceptionAccessViolation for SIGSEGV, kExceptionInPageError
    // for SIGBUS), or 0 when the loop returned by itself. Guards nest per
    // thread; a fault outside any guard keeps the default behaviour.
    // Note: the loop is left by siglongjmp, so objects with destructors that
    // were alive inside it at the fault are not destroyed; loops keep their
    // owned state in the thread object, not on the stack.
    static uint32_t RunGuarded(void (*loop)(void* context), void* context);
};

}  // namespace velmora
