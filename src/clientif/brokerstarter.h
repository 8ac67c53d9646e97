// Starting the broker program and keeping no zombie of it.
//
// The program is "ZTBROKER.DLL", looked for next to the running program
// first, then on PATH; an override (the library's settings, else the
// environment variable ZTIF_BROKER_PROGRAM) names another program, as a path
// or as a file name looked up the same way. It is started with posix_spawn as
// "<program> N SHOW|HIDE", in a session of its own (it serves every
// application of the user and must not die with the terminal of the one that
// started it), with stdin on /dev/null, no descriptor but stdout and stderr
// inherited, and default signal handling.
//
// Every started child is remembered until it is reaped. A child whose start
// is being checked is reaped only by that check (its exit code matters);
// others are reaped by ReapEnded, which the library calls from its connects,
// its keep-alive rounds and its broker stop.
//
// Lock: lock_ guards children_; it is a leaf lock and is never held while
// sleeping.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class BrokerStarter {
  public:
    // The program to start, or empty (`why` says where it was looked for).
    static std::string FindProgram(const std::string& override, std::string* why);

    // Starts the program. nleOk with *pid set, or nleHostExcuteNotFound.
    [[nodiscard]] int32_t Start(const std::string& program, const std::string& brokerName,
                                bool show, pid_t* pid, std::string* why);

    // Asks a started child's state without waiting: nleOk while it runs or
    // when it ended with a code of 0 or more (*ended tells which);
    // nleHostExcuteError when it ended with a negative code (exit(-1) is
    // status 255) or by a signal; nleHostExcuteNotFound when its state cannot
    // be asked. An ended child is reaped: ask no more about it.
    [[nodiscard]] int32_t Check(pid_t pid, bool* ended, std::string* why);

    // Hands a child over to ReapEnded once its start is settled.
    void Settle(pid_t pid);

    // Reaps every settled child that has ended.
    void ReapEnded();

    // Waits at most limitMs for every settled child to end, reaping them.
    void AwaitEnd(uint32_t limitMs);

  private:
    struct Child {
        pid_t pid;
        bool settled;
    };
    // Under lock_: waitpid without blocking. 1 ended (*status set), 0 running,
    // -1 not a child of ours any more.
    static int Poll(pid_t pid, int* status);
    void Forget(pid_t pid);

    std::mutex lock_;
    std::vector<Child> children_;
};

}  // namespace velmora
