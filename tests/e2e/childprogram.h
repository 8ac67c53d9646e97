// A program of the system run as a child of a test or benchmark: its
// output goes to a file the test reads, and it is ended (SIGTERM, then
// SIGKILL after a grace) and reaped when the object goes away, so no test
// leaves a process behind. The child gets a parent-death signal, so a test
// that crashes does not either.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::e2e {

class ChildProgram {
  public:
    ChildProgram() = default;
    ~ChildProgram() { Stop(); }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Starts argv[0] (a path, or a name searched on PATH) in `directory`
    // (empty: the current one) with `environment` ("NAME=value") added to
    // this process's, standard input from /dev/null, standard output and
    // error appended to `outputFile`. False with a sentence.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& directory, const std::string& outputFile, std::string* error);

    pid_t Pid() const { return pid_; }
    // True while the child has not ended (it is reaped when it has).
    bool Running();
    // SIGTERM, then SIGKILL after graceMs; returns the exit status as
    // waitpid gives it, or -1 when there was no child.
    int Stop(uint32_t graceMs = 5000);
    // SIGKILL at once and reap.
    void Kill();
    // The status of a child that ended by itself (valid once Running() is
    // false).
    int Status() const { return status_; }

  private:
    pid_t pid_ = 0;
    int status_ = -1;
};

// A program of this build: the file next to the running test or benchmark.
std::string BuildProgram(const std::string& name);
// A new private directory under /tmp; removed by RemoveTree.
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);
// The whole of a text file ("" when it cannot be read).
std::string ReadText(const std::string& path);
// Waits until `file` holds `text`, at most limitMs; the limit only guards
// against a hang.
bool WaitForText(const std::string& file, const std::string& text, uint32_t limitMs);
// A port P such that UDP P and P + 1 were free a moment ago.
uint16_t FreeUdpPortPair();

}  // namespace velmora::e2e
