#include <io.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/Terminal.h"

namespace dravnel::platform {

namespace {

// Manual reset: once set it stays set.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        SetEvent(StopEvent());
        return TRUE;
    default:
        return FALSE;
    }
}

// Standard input, read by a thread of its own: a console or pipe read cannot
// wait with a time-out. The thread lives as long as the process, blocked in
// its read when nothing comes.
struct InputReader {
    std::mutex mutex;
    std::condition_variable arrived;
    std::string pending;
    bool ended = false;

    InputReader() {
        std::thread([this] {
            const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
            char buffer[512];
            for (;;) {
                DWORD got = 0;
                const bool read =
                    in && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &got, nullptr);
                std::lock_guard<std::mutex> lock(mutex);
                if (!read || got == 0) {
                    ended = true;
                    arrived.notify_all();
                    return;
                }
                pending.append(buffer, got);
                arrived.notify_all();
            }
        }).detach();
    }
};

}  // namespace

bool IsTerminal(FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }

int TerminalRows() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void InstallStopRequest() {
    StopEvent();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() { return WaitForStopRequest(0); }

bool WaitForStopRequest(uint32_t timeoutMs) {
    const HANDLE event = StopEvent();
    return event && WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
}

void RequestStop() { SetEvent(StopEvent()); }

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>&, uint32_t) {
    ProgramResult result;
    result.output = "cannot run " + program + ": other programs are run on Linux only";
    return result;
}

InputLine ReadInputLine(std::string& line, uint32_t timeoutMs) {
    static InputReader reader;
    constexpr size_t kMaxLine = 4096;
    std::unique_lock<std::mutex> lock(reader.mutex);
    const auto take = [&](size_t end, size_t skip) {
        line = reader.pending.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        reader.pending.erase(0, end + skip);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const size_t eol = reader.pending.find('\n');
        if (eol != std::string::npos) {
            take(eol, 1);
            return InputLine::Line;
        }
        if (reader.pending.size() >= kMaxLine) {
            take(kMaxLine, 0);
            return InputLine::Line;
        }
        if (reader.ended) {
            if (reader.pending.empty()) return InputLine::End;
            take(reader.pending.size(), 0);
            return InputLine::Line;
        }
        if (std::chrono::steady_clock::now() >= deadline) return InputLine::Timeout;
        reader.arrived.wait_until(lock, deadline);
    }
}

}  // namespace dravnel::platform
