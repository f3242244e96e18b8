// Whether a thread of this process is asleep inside a blocking system call, as
// the kernel reports it: lets a test act only once another thread is inside a
// wait, instead of after a sleep that a slow machine could outlast.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WaitUntil.h"

namespace quarnel::test {

// The calls a wait on sockets or events ends up in.
inline const std::vector<long> kPollCalls{SYS_poll,     SYS_ppoll,      SYS_select,
                                          SYS_pselect6, SYS_epoll_wait, SYS_epoll_pwait};
inline const std::vector<long> kFutexCalls{SYS_futex};

// The thread (gettid()) sleeps (state S) in one of the system calls given.
inline bool SleepsIn(pid_t tid, const std::vector<long>& calls) {
    const std::string task = "/proc/self/task/" + std::to_string(tid);
    std::ifstream stat(task + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto name = line.rfind(')');  // the name in parentheses may hold spaces
    if (name == std::string::npos || name + 2 >= line.size() || line[name + 2] != 'S') return false;
    std::ifstream syscall(task + "/syscall");
    long number = -1;
    return (syscall >> number) && std::find(calls.begin(), calls.end(), number) != calls.end();
}

inline bool WaitUntilSleepingIn(pid_t tid, const std::vector<long>& calls,
                                std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return WaitUntil([&] { return SleepsIn(tid, calls); }, limit);
}

// ThreadSanitizer starts a thread of its own along with the process's first
// one. A count of this process's threads taken as a baseline must not come
// before it, or the first thread a test starts seems to leave one behind: a
// thread started and joined here brings it about (elsewhere, it leaves none).
inline void StartRuntimeThreads() {
    static const bool started = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)started;
}

}  // namespace quarnel::test
