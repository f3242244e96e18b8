// The host's sink of one streaming channel in the CLI: writes each accepted
// frame to a file and keeps the figures of the status line.
//
// Thread-safety: DeliverFrame and OnStreamSilent come from driver threads;
// Snapshot may be called from any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "quarnel/HostObjects.h"

namespace dravnel::cli {

struct StreamFigures {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
    uint64_t silences = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t lastTag = 0;
    bool writeFailed = false;
};

class StreamSink : public dravnel::ipcapture::IHostChannelSink {
public:
    ~StreamSink() override;
    // Opens (truncates) the output file; false with `error` set.
    bool Open(const std::string& path, std::string& error);
    void Close();

    bool DeliverFrame(dravnel::ipcapture::IHostFrame* frame) override;
    void OnStreamSilent() override;

    StreamFigures Snapshot() const;
    const std::string& Path() const { return path_; }

private:
    mutable std::mutex mutex_;
    FILE* file_ = nullptr;
    bool heldDelimiter_ = false;
    std::string path_;
    StreamFigures figures_;
};

}  // namespace dravnel::cli
