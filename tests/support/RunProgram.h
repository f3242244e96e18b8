// Runs a program to its end and collects its standard output, for tests that
// use a third-party tool (ffprobe) as an oracle.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"

namespace quarnel::test {

struct ProgramResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    std::string output;
    std::string error;  // why it did not start
};

// The program gets an empty standard input; it is killed after timeoutMs.
inline ProgramResult RunProgram(const std::string& executable, const std::vector<std::string>& arguments,
                                uint32_t timeoutMs) {
    ProgramResult result;
    platform::ChildProcess child;
    platform::ChildProcess::Spec spec;
    spec.executable = executable;
    spec.arguments = arguments;
    spec.reportFd = 1;
    if (!child.Spawn(spec, result.error)) return result;
    result.started = true;
    child.CloseInput();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buffer[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        auto got = child.Read(buffer, static_cast<uint32_t>(left.count()));
        if (got.status == platform::IoStatus::Ok) {
            result.output.append(reinterpret_cast<const char*>(buffer), got.bytes);
            continue;
        }
        if (got.status != platform::IoStatus::Timeout) break;
    }
    if (result.timedOut || !child.WaitExit(2000)) child.Kill();
    result.exitCode = child.ExitCode();
    return result;
}

}  // namespace quarnel::test
