// The CLI's live display: one status line per channel at the top of the
// terminal, the driver's diagnostics scrolling below them. Without a terminal
// (a pipe, a file) status lines are printed as ordinary lines now and then.
//
// Thread-safety: PrintLine and Update may be called from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace dravnel::cli {

class StatusBoard {
public:
    explicit StatusBoard(FILE* out) : out_(out) {}
    ~StatusBoard() { Stop(); }

    // Reserves `lines` status lines when the output is a terminal tall enough.
    void Start(size_t lines);
    void Stop();
    // One line of the scrolling part.
    void PrintLine(const std::string& text);
    // New status lines; without a terminal they are printed when `print` is set.
    void Update(const std::vector<std::string>& lines, bool print);

private:
    FILE* out_;
    std::mutex mutex_;
    bool live_ = false;
    size_t lines_ = 0;
};

}  // namespace dravnel::cli
