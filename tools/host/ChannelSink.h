// The host's per-channel sink: records every delivered frame (with every field
// set on it) and every silence notice; and a settable channel description.
//
// Thread-safety: DeliverFrame and OnStreamSilent may run on several driver
// threads at once; readers may run on any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/HostObjects.h"

namespace dravnel::host {

struct FrameRecord {
    uint32_t allocationTag = 0;
    uint32_t codecTag = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sizeClass = 0;
    uint32_t dataSize = 0;
    bool timeSet = false;
    dravnel::SYSTEMTIME time{};
    std::string streamName;
    std::vector<std::string> calls;
    std::vector<uint8_t> data;  // kept only when the sink keeps data
};

class ChannelSink : public dravnel::ipcapture::IHostChannelSink {
public:
    explicit ChannelSink(bool keepData = true) : keepData_(keepData) {}

    bool DeliverFrame(dravnel::ipcapture::IHostFrame* frame) override;
    void OnStreamSilent() override;

    std::vector<FrameRecord> Frames() const;
    size_t FrameCount() const;
    size_t SilenceCount() const { return silences_.load(); }
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) const;
    void Clear();
    // Called for each accepted frame with the frame's bytes (the CLI writes files).
    void SetListener(std::function<void(const FrameRecord&, const uint8_t*, size_t)> listener);

    std::atomic<bool> accept{true};

private:
    const bool keepData_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<FrameRecord> frames_;
    std::atomic<size_t> silences_{0};
    std::function<void(const FrameRecord&, const uint8_t*, size_t)> listener_;
};

// A channel description as StartChannel reads it.
class ChannelDescription : public dravnel::ipcapture::IHostChannelDescription,
                           private dravnel::ipcapture::IHostPicture,
                           private dravnel::ipcapture::IHostStream,
                           public dravnel::ipcapture::IHostSize {
public:
    uint32_t frameInterval = 40;
    uint32_t modeWord = 50;
    uint32_t width = 704;
    uint32_t height = 576;
    bool secondary = false;

    dravnel::ipcapture::IHostPicture* GetPicture() override { return this; }
    dravnel::ipcapture::IHostStream* GetStream() override { return this; }
    uint32_t GetWidth() override { return width; }
    uint32_t GetHeight() override { return height; }

private:
    dravnel::ipcapture::IHostSize* GetSize() override { return this; }
    uint32_t GetFrameInterval() override { return frameInterval; }
    uint32_t GetModeWord() override { return modeWord; }
    bool WantsSecondaryStream() override { return secondary; }
};

}  // namespace dravnel::host
