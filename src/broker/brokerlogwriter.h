// Where the broker's status lines end up while it has no window: critical
// lines are appended to the critical log file "ZTBRK.LOG" in the runtime
// directory, each as "yyyy-mm-dd  hh:nn:ss" (two blanks between date and
// time), the line, CR LF; other lines are dropped. A file that cannot be
// opened or created costs the line, nothing else.
//
// Lock: lock_ guards the file; it is a leaf lock.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace velmora {

class BrokerLogWriter {
  public:
    static constexpr char kFileName[] = "ZTBRK.LOG";

    // path: the file; empty = "ZTBRK.LOG" in the runtime directory.
    explicit BrokerLogWriter(std::string path = {});

    // The ZTLOG handler: level 1 = critical.
    void Write(int level, std::string_view text);

    const std::string& Path() const { return path_; }

    // "yyyy-mm-dd  hh:nn:ss" of a local time.
    static std::string TimeText(std::time_t when);

  private:
    std::mutex lock_;
    std::string path_;
};

}  // namespace velmora
