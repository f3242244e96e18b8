// An IDebugMessage for tests of parts that log: formats and keeps every line.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/CaptureDriver.h"

namespace dravnel::test {

class RecordingLog : public dravnel::IDebugMessage {
public:
    struct Line {
        int level;
        std::string text;
    };

    void DebugMessage(int level, const char* format, ...) override QUARNEL_PRINTF(3, 4) {
        va_list args;
        va_start(args, format);
        char buffer[4096];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::vsnprintf(buffer, sizeof buffer, format, args);
#pragma GCC diagnostic pop
        va_end(args);
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back({level, buffer});
    }

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

    size_t CountContaining(const std::string& part) const {
        std::lock_guard<std::mutex> guard(mutex_);
        size_t n = 0;
        for (const auto& l : lines_) n += l.text.find(part) != std::string::npos;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

}  // namespace dravnel::test
