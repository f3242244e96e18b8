#include "platform/Terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/ChildProcess.h"
#include "platform/Event.h"

namespace dravnel::platform {

namespace {
// A bare eventfd, written by the signal handler (async-signal-safe) and
// never read: once set it stays set.
int StopFd() {
    static const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}
std::atomic<int> stopFd{-1};

void SignalStop(int fd) {
    if (fd >= 0) {
        uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    }
}

void OnStopSignal(int) { SignalStop(stopFd.load()); }
}  // namespace

bool IsTerminal(FILE* stream) { return stream && isatty(fileno(stream)) == 1; }

int TerminalRows() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_row;
}

void InstallStopRequest() {
    stopFd = StopFd();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return WaitForStopRequest(0); }
bool WaitForStopRequest(uint32_t timeoutMs) {
    return WaitAny(std::span<Event* const>(), timeoutMs, StopFd(), POLLIN) == 0;
}
void RequestStop() { SignalStop(StopFd()); }

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, uint32_t timeoutMs) {
    ProgramResult result;
    // Through the shell so that standard error joins standard output and the
    // program is found on PATH; every argument is quoted.
    const auto quote = [](const std::string& text) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    };
    std::string command = "exec " + quote(program);
    for (const auto& argument : arguments) command += " " + quote(argument);
    command += " 2>&1";
    ChildProcess child;
    ChildProcess::Spec spec;
    spec.executable = "/bin/sh";
    spec.arguments = {"-c", command};
    spec.reportFd = 1;
    std::string error;
    if (!child.Spawn(spec, error)) {
        result.output = error;
        return result;
    }
    child.CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        IoResult got = child.Read(buffer, static_cast<uint32_t>(left.count()));
        if (got.status == IoStatus::Ok) {
            result.output.append(reinterpret_cast<const char*>(buffer), got.bytes);
            continue;
        }
        if (got.status != IoStatus::Timeout) break;
    }
    if (!child.WaitExit(200)) child.Kill();
    result.exitCode = child.ExitCode();
    return result;
}

InputLine ReadInputLine(std::string& line, uint32_t timeoutMs) {
    static std::mutex mutex;
    static std::string pending;
    static bool ended = false;
    constexpr size_t kMaxLine = 4096;
    std::lock_guard<std::mutex> lock(mutex);
    const auto take = [&](size_t end, size_t skip) {
        line = pending.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending.erase(0, end + skip);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t eol = pending.find('\n');
        if (eol != std::string::npos) {
            take(eol, 1);
            return InputLine::Line;
        }
        if (pending.size() >= kMaxLine) {
            take(kMaxLine, 0);
            return InputLine::Line;
        }
        if (ended) {
            if (pending.empty()) return InputLine::End;
            take(pending.size(), 0);
            return InputLine::Line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return InputLine::Timeout;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return InputLine::Timeout;
        char buffer[512];
        const ssize_t got = ready < 0 ? -1 : read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0)
            ended = true;
        else
            pending.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace dravnel::platform
