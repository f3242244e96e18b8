#include "platform/Terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "platform/ChildProcess.h"
#include "platform/Event.h"

namespace platform {

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

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         uint32_t timeoutMs) {
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
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
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

}  // namespace platform
