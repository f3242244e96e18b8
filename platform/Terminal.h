// What a command-line host needs of the OS: whether output goes to a
// terminal and how tall it is, a stop request from Ctrl-C or SIGTERM that can
// be waited on, and running another program for its output.
//
// Thread-safety: all functions may be called from any thread; the stop
// request is installed once, early, by the main thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dravnel::platform {

bool IsTerminal(FILE* stream);
// Rows of the terminal behind stdout; 0 when unknown.
int TerminalRows();

// SIGINT and SIGTERM set the stop request instead of ending the process.
void InstallStopRequest();
bool StopRequested();
// Waits up to timeoutMs for a stop request; true when there is one.
bool WaitForStopRequest(uint32_t timeoutMs);
// Sets the stop request as a signal would (for tests and for timed runs).
void RequestStop();

enum class InputLine { Line, Timeout, End };
// Waits up to timeoutMs for a whole line on standard input and gives it
// without its line end (a final line without one counts at the end of input).
// End at the end of input or on a read error; lines longer than 4096 bytes
// are cut there. Meant for one reading thread.
InputLine ReadInputLine(std::string& line, uint32_t timeoutMs);

struct ProgramResult {
    int exitCode = -1;   // the program's exit status, or 128 + signal; -1 when it did not run
    std::string output;  // standard output and standard error together
};
// Runs a program (looked up on PATH) with arguments and collects its output,
// at most timeoutMs; a program still running then is killed.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, uint32_t timeoutMs);

}  // namespace dravnel::platform
