// An IDriver for tests of the RTP side: a device record, a host frame
// allocator of the test's choosing and a log that keeps every line.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/CaptureDriver.h"

namespace quarnel::test {

class StubDriver : public dravnel::IDriver {
public:
    explicit StubDriver(dravnel::ipcapture::IHostFrameAllocator* allocator = nullptr) : allocator_(allocator) {
        device_.Address = "127.0.0.1";
        device_.Port = 8080;
    }

    void DebugMessage(int level, const char* format, ...) override QUARNEL_PRINTF(3, 4) {
        va_list args;
        va_start(args, format);
        char buffer[1024];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::vsnprintf(buffer, sizeof buffer, format, args);
#pragma GCC diagnostic pop
        va_end(args);
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(std::to_string(level) + " " + buffer);
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

    std::string GetDriverName() override { return "Quarnel"; }
    std::string GetHostDirectory() override { return {}; }
    const dravnel::DEVICE_INFO* GetDeviceInfo() override { return &device_; }
    std::pair<uint32_t, uint32_t> GetDeviceValues() override { return {0, 0}; }
    dravnel::ipcapture::IHostFrameAllocator* GetHostContext() override { return allocator_; }
    bool GetParameterFlag() override { return false; }
    int GetCodec() override { return dravnel::kCodecH264; }
    uint32_t GetChannelCount() override { return 1; }
    std::string GetAddressText() override { return device_.Address + ":" + std::to_string(device_.Port); }
    std::string GetParameterText(int) override { return {}; }
    int GetParameterInt(int) override { return dravnel::kNoIntParameter; }

    void SetAllocator(dravnel::ipcapture::IHostFrameAllocator* allocator) { allocator_ = allocator; }

private:
    dravnel::ipcapture::IHostFrameAllocator* allocator_;
    dravnel::DEVICE_INFO device_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace quarnel::test
