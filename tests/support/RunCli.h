// The quarnel CLI of the build run as a user runs it: its exit status and
// everything it printed (standard output and error together).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace dravnel::test {

struct CliRun {
    int status;  // -1 when it did not exit normally
    std::string output;
};

inline CliRun Cli(const std::string& args) {
    const std::string command = QUARNEL_BIN_DIR "/quarnel " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    CliRun run{-1, {}};
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace dravnel::test
