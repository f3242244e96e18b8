#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace dravnel::platform {

namespace {

// The child's copies of its pipe ends are first moved up here, out of the way
// of the descriptor numbers they are then given.
constexpr int kHighFd = 100;

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(const char* path, char* const* argv, int input, int report, int reportFd,
                            bool stdoutToStderr, int error, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the parent thread is already gone

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);

    int in = fcntl(input, F_DUPFD, kHighFd);
    int rep = report >= 0 ? fcntl(report, F_DUPFD, kHighFd) : -1;
    int err = fcntl(error, F_DUPFD_CLOEXEC, kHighFd + 10);
    if (in < 0 || (report >= 0 && rep < 0) || err < 0) _exit(127);
    if (dup2(in, 0) < 0) _exit(127);
    if (stdoutToStderr && reportFd != 1 && dup2(2, 1) < 0) _exit(127);
    if (rep >= 0 && dup2(rep, reportFd) < 0) _exit(127);
    // Everything else the parent had open stays with the parent.
    if (reportFd > 3) close_range(3, static_cast<unsigned>(reportFd - 1), 0);
    unsigned keepBelow = reportFd >= 3 ? static_cast<unsigned>(reportFd + 1) : 3u;
    close_range(keepBelow, static_cast<unsigned>(err - 1), 0);
    close_range(static_cast<unsigned>(err + 1), ~0u, 0);

    execv(path, argv);
    int code = errno;
    ssize_t ignored = write(err, &code, sizeof code);
    (void)ignored;
    _exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (Running()) {
        CloseInput();
        if (!WaitExit(2000)) Kill();
    }
    CloseAll();
}

void ChildProcess::CloseAll() {
    int in = inputFd_.exchange(-1);
    if (in >= 0) close(in);
    CloseFd(reportFd_);
}

bool ChildProcess::Spawn(const Spec& spec, std::string& error) {
    if (Running()) {
        error = "a child is still running";
        return false;
    }
    CloseAll();
    if (spec.reportFd >= 0 && spec.reportFd != 1 && (spec.reportFd < 3 || spec.reportFd >= kHighFd)) {
        error = "report descriptor out of range";
        return false;
    }

    int input[2] = {-1, -1};
    int report[2] = {-1, -1};
    int failure[2] = {-1, -1};
    auto closePipes = [&] {
        for (int* p : {input, report, failure}) {
            CloseFd(p[0]);
            CloseFd(p[1]);
        }
    };
    // Socket pairs rather than pipes: the parent writes with MSG_NOSIGNAL, so
    // a child that has gone never raises SIGPIPE in the parent.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0 ||
        (spec.reportFd >= 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, report) != 0) ||
        pipe2(failure, O_CLOEXEC) != 0) {
        error = std::string("cannot create pipes: ") + std::strerror(errno);
        closePipes();
        return false;
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(spec.executable.c_str()));
    for (const auto& a : spec.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork failed: ") + std::strerror(errno);
        closePipes();
        return false;
    }
    if (pid == 0) {
        ExecChild(spec.executable.c_str(), argv.data(), input[1], report[1], spec.reportFd, spec.stdoutToStderr,
                  failure[1], parent);
    }

    CloseFd(input[1]);
    CloseFd(report[1]);
    CloseFd(failure[1]);
    int code = 0;
    ssize_t n;
    do {
        n = read(failure[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    CloseFd(failure[0]);
    pid_.store(pid);
    if (n > 0) {
        error = "cannot run " + spec.executable + ": " + std::strerror(code);
        closePipes();
        WaitExit(kInfinite);
        return false;
    }
    fcntl(input[0], F_SETFL, fcntl(input[0], F_GETFL) | O_NONBLOCK);
    inputFd_.store(input[0]);
    reportFd_ = report[0];
    exitCode_ = -1;
    return true;
}

bool ChildProcess::Write(const std::string& text, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        int fd = inputFd_.load();
        if (fd < 0) return false;
        ssize_t n = send(fd, data, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (wait <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(wait)) < 0 && errno != EINTR) return false;
    }
    return true;
}

void ChildProcess::CloseInput() {
    int fd = inputFd_.exchange(-1);
    if (fd >= 0) close(fd);
}

IoResult ChildProcess::Read(std::span<uint8_t> buffer, uint32_t timeoutMs, Event* abort) {
    if (reportFd_ < 0) return {IoStatus::Closed, 0};
    Event* events[1] = {abort};
    std::span<Event* const> waitOn(events, abort ? 1 : 0);
    for (;;) {
        int r = WaitAny(waitOn, timeoutMs, reportFd_, POLLIN);
        if (r == kWaitTimeout) return {IoStatus::Timeout, 0};
        if (r == kWaitFailed) return {IoStatus::Error, 0};
        if (abort && r == 0) return {IoStatus::Aborted, 0};
        ssize_t n = recv(reportFd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) return {IoStatus::Ok, static_cast<size_t>(n)};
        if (n == 0) return {IoStatus::Closed, 0};
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return {IoStatus::Closed, 0};  // ECONNRESET and the like: the child is gone
    }
}

bool ChildProcess::WaitExit(uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int pid = pid_.load();
        if (pid <= 0) return true;
        int status = 0;
        pid_t r = waitpid(pid, &status, timeoutMs == kInfinite ? 0 : WNOHANG);
        if (r == pid) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
            pid_.store(-1);
            CloseFd(reportFd_);  // the input end stays for its writer to close
            return true;
        }
        if (r < 0 && errno != EINTR) {  // not ours any more (reaped elsewhere)
            pid_.store(-1);
            CloseFd(reportFd_);
            return true;
        }
        if (timeoutMs != kInfinite && Clock::now() >= deadline) return false;
        if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::Kill() {
    int pid = pid_.load();
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    WaitExit(kInfinite);
}

}  // namespace dravnel::platform
