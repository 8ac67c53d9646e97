// The transport's log channel. It writes no file: it keeps a name and, while
// a handler is installed, forwards each status text to it (level 0 =
// information, 1 = error). Without a handler nothing is forwarded.
//
// Lock: lock_ guards handler_; it is a leaf lock (the handler is called with
// it held, so a handler must not install or clear handlers).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/ztcritical_section.h"

namespace velmora {

class ZTLOG {
public:
    using Handler = std::function<void(int level, std::string_view text)>;

    explicit ZTLOG(const char* name);
    ~ZTLOG();

    void SetHandler(Handler handler);
    void ClearHandler();
    bool HasHandler();
    void Write(int level, std::string_view text);
    // printf-style convenience; the text is cut at 1023 bytes.
    void Printf(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    const std::string& Name() const { return name_; }

private:
    ZTCRITICAL_SECTION lock_;
    std::string name_;
    Handler handler_;
};

}  // namespace velmora
