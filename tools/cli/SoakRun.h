// A soak run: the simulated camera in a child process (quarnel sim with a
// fault schedule) and K channels of it streaming in this process through the
// driver, as a recorder holds them, for a number of faults or a time; then
// every channel is stopped and the process is checked for what it kept.
//
//   start sim child --> open driver --> baseline figures --> start K channels
//   --> every channel streams --> "faults start" --> count "fault N:" lines,
//   sample figures --> last fault --> every channel streams again --> stop
//   channels --> threads and descriptors back at the baseline? --> files decode?
//
// Thread-safety: RunSoak runs on the calling thread (which must outlive the
// child, see ChildProcess); the sinks take frames from driver threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ProcessStats.h"
#include "tools/cli/FaultOptions.h"

namespace dravnel::cli {

struct SoakSettings {
    uint32_t channels = 16;
    FaultOptions faults;    // handed to quarnel sim; count and kinds given by the caller
    uint32_t seconds = 0;   // 0: until the last fault of the schedule's count
    std::string transport;  // udp, tcp, interleaved, http; empty: the settings file decides
    std::string outDir;     // empty: no files
    uint32_t sampleSeconds = 10;
    uint32_t recoverMs = 30000;  // bound for every channel to stream again
    uint32_t width = 320, height = 240, fps = 15, quality = 50;
    std::string simExecutable;  // empty: quarnel beside this program
};

struct SoakChannel {
    unsigned index = 0;
    uint64_t frames = 0;
    uint32_t reconnects = 0;
    uint64_t silences = 0;
    uint32_t longestGapMs = 0;
    uint32_t recovered = 0;  // faults after which it delivered a frame before the next one
    bool streamsAtEnd = false;
    std::string path;
    std::string decodeErrors;  // what FFmpeg said; empty when clean
    bool decodeChecked = false;
};

struct SoakSample {
    std::string label;  // "start", "fault 100", "12 s", "end", "after stop"
    uint32_t faults = 0;
    platform::ProcessStats stats;
};

// The driver's lines of one level: how many came, and only the first and the
// last of them, so that the soak's own memory does not grow with the log.
struct SoakLevelLines {
    uint64_t count = 0;
    std::string first, last;
};

struct SoakResult {
    std::string error;  // set when the run could not be made
    uint32_t faults = 0;
    double seconds = 0;
    std::vector<SoakChannel> channels;
    std::vector<SoakSample> samples;
    platform::ProcessStats baseline, afterStop;
    uint32_t markFault = 0;  // the fault whose RSS growth to the last is reported
    int64_t rssGrowth = 0;   // bytes from markFault to the last fault
    bool backAtBaseline = false;
    bool allRecovered = false;
    bool decodeClean = true;
    std::map<int, SoakLevelLines> lines;     // the driver's diagnostic lines by level
    std::vector<std::string> faultFailures;  // "fault N: KIND (failed: ...)" lines of the camera

    bool GoalsMet() const { return error.empty() && backAtBaseline && allRecovered && decodeClean; }
};

// Runs it; progress lines (samples, faults every so often) go to `out`.
SoakResult RunSoak(const SoakSettings& settings, FILE* out);

// The report printed at the end.
void PrintSoakReport(const SoakResult& result, FILE* out);

}  // namespace dravnel::cli
