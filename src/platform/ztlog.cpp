#include "platform/ztlog.h"

#include <cstdarg>
#include <cstdio>

namespace velmora {
namespace {

// Length of text[0, length) without a UTF-8 sequence cut off at its end, so a
// shortened Korean status text stays valid.
size_t WholeCharacters(const char* text, size_t length) {
    size_t start = length;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           length - start < 3) {
        --start;
    }
    if (start == 0) return length;
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length - start + 1 < need ? start - 1 : length;
}

}  // namespace

ZTLOG::ZTLOG(const char* name) : name_(name != nullptr ? name : "") {}

ZTLOG::~ZTLOG() {
    ClearHandler();
}

void ZTLOG::SetHandler(Handler handler) {
    CsGuard guard(lock_);
    handler_ = std::move(handler);
}

void ZTLOG::ClearHandler() {
    CsGuard guard(lock_);
    handler_ = nullptr;
}

bool ZTLOG::HasHandler() {
    CsGuard guard(lock_);
    return static_cast<bool>(handler_);
}

void ZTLOG::Write(int level, std::string_view text) {
    CsGuard guard(lock_);
    if (!handler_) return;
    // The handler is the window's code; nothing it throws reaches the engine.
    try {
        handler_(level, text);
    } catch (...) {
    }
}

void ZTLOG::Printf(int level, const char* format, ...) {
    if (format == nullptr || !HasHandler()) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    size_t length = static_cast<size_t>(n);
    if (length >= sizeof text) length = WholeCharacters(text, sizeof text - 1);
    Write(level, std::string_view(text, length));
}

}  // namespace velmora
