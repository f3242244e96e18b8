#include "tools/cli/StatusBoard.h"

#include "platform/Terminal.h"

namespace dravnel::cli {

void StatusBoard::Start(size_t lines) {
    std::lock_guard<std::mutex> guard(mutex_);
    const int rows = platform::IsTerminal(out_) ? platform::TerminalRows() : 0;
    lines_ = lines;
    live_ = rows > static_cast<int>(lines) + 4;
    if (!live_) return;
    // Clear the screen, keep the top rows for the status and let everything
    // else scroll in the region below them (VT100 scrolling region).
    std::fprintf(out_, "\x1b[2J\x1b[%zu;%dr\x1b[%zu;1H", lines + 2, rows, lines + 2);
    std::fflush(out_);
}

void StatusBoard::Stop() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!live_) return;
    live_ = false;
    std::fprintf(out_, "\x1b[r\x1b[999;1H\n");
    std::fflush(out_);
}

void StatusBoard::PrintLine(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void StatusBoard::Update(const std::vector<std::string>& lines, bool print) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (live_) {
        std::fprintf(out_,
                     "\x1b"
                     "7");  // save the cursor of the scrolling part
        for (size_t i = 0; i < lines.size() && i < lines_; ++i)
            std::fprintf(out_, "\x1b[%zu;1H\x1b[2K%s", i + 1, lines[i].c_str());
        std::fprintf(out_, "\x1b[%zu;1H\x1b[2K%s", lines_ + 1, std::string(60, '-').c_str());
        std::fprintf(out_,
                     "\x1b"
                     "8");
    } else if (print) {
        for (const auto& line : lines) std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
}

}  // namespace dravnel::cli
