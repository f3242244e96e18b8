// A child process running another executable, with a command pipe on its
// standard input and a report pipe on one further descriptor of its own.
//
// The child is bound to the thread that spawned it: the kernel kills it with
// SIGKILL when that thread ends (PR_SET_PDEATHSIG), so a crashed or killed
// parent leaves no child behind. Spawn it from a thread that lives at least as
// long as the child, and reap it (WaitExit or Kill) before that thread ends.
//
// Thread-safety: Spawn, Read, WaitExit and Kill belong to one thread (the
// spawning one). After Spawn has returned, one other thread at a time may call
// Write and CloseInput. Pid may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"

namespace dravnel::platform {

class ChildProcess {
public:
    struct Spec {
        std::string executable;
        std::vector<std::string> arguments;  // without the program name
        // Descriptor number on which the child finds the write end of the
        // report pipe: 1 (its standard output) or 3 to 99; -1 for none.
        int reportFd = 3;
        // Unless the report pipe is its standard output, the child's standard
        // output goes to the parent's standard error, so that library chatter
        // on stdout cannot mix with anything of ours.
        bool stdoutToStderr = true;
    };

    ChildProcess() = default;
    // Reaps a child still running: closes its input, waits briefly, kills it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False with a reason in `error` when the pipes, the fork or the exec fail
    // (an exec failure is reported here, not as an early exit).
    bool Spawn(const Spec& spec, std::string& error);
    bool Running() const { return pid_.load() > 0; }
    int Pid() const { return pid_.load(); }

    // Writes the whole text to the child's standard input, waiting at most
    // timeoutMs for room in the pipe. False when the input is closed, the child
    // has gone or the time ran out (a partial line may then have gone out).
    bool Write(const std::string& text, uint32_t timeoutMs);
    // End of input for the child; idempotent.
    void CloseInput();

    // Reads what the report pipe holds, waiting at most timeoutMs (or until
    // the abort event is set). Closed at the end of the child's output.
    IoResult Read(std::span<uint8_t> buffer, uint32_t timeoutMs, Event* abort = nullptr);

    // Waits up to timeoutMs for the child to end and reaps it. True when no
    // child is left. exitCode is the exit status, or 128 + signal number.
    bool WaitExit(uint32_t timeoutMs);
    // SIGKILL, then reaps.
    void Kill();
    int ExitCode() const { return exitCode_; }

private:
    void CloseAll();

    std::atomic<int> pid_{-1};
    std::atomic<int> inputFd_{-1};
    int reportFd_ = -1;
    int exitCode_ = -1;
};

}  // namespace dravnel::platform
