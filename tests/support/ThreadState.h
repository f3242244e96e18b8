// Whether a thread of this process is asleep inside a blocking system call, as
// the kernel reports it: lets a test act only once another thread is inside a
// wait, instead of after a sleep that a slow machine could outlast.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WaitUntil.h"

#if defined(__SANITIZE_THREAD__)
#define QUARNEL_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUARNEL_TEST_TSAN 1
#endif
#endif
#if defined(QUARNEL_TEST_TSAN)
#include <sanitizer/common_interface_defs.h>
#endif

namespace dravnel::test {

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
                                std::chrono::milliseconds limit = std::chrono::seconds(20)) {
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

// ThreadSanitizer looks up the stack of every race it sees, reported or
// suppressed (the uninstrumented cpp-httplib's, at whatever moment the load on
// the machine lets one show), in a symbolizer process that it starts the first
// time and keeps, with two pipes to it, for the rest of the process's life. A
// count of this process's descriptors taken as a baseline must come after it,
// or a race suppressed during a test seems to leave two descriptors behind.
inline void StartRuntimeSymbolizer() {
#if defined(QUARNEL_TEST_TSAN)
    static const bool started = [] {
        char where[256];
        __sanitizer_symbolize_pc(reinterpret_cast<void*>(&StartRuntimeThreads), "%p %F %L", where, sizeof where);
        return true;
    }();
    (void)started;
#endif
}

// A baseline of this process's threads or descriptors: the sanitizer's own
// thread and symbolizer are up first.
inline void StartRuntimeHelpers() {
    StartRuntimeThreads();
    StartRuntimeSymbolizer();
}

inline size_t CountEntries(const char* directory) {
    return std::distance(std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator());
}
// This process's threads and descriptors, counted after the sanitizer's own.
inline size_t ThreadCount() {
    StartRuntimeThreads();
    return CountEntries("/proc/self/task");
}
inline size_t DescriptorCount() {
    StartRuntimeSymbolizer();
    return CountEntries("/proc/self/fd");
}

}  // namespace dravnel::test
