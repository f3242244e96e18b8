// An IDriver for tests of the parts a driver object serves: a settable device
// record, channel count, parameters and host directory, and a log that keeps
// every formatted line with its level.
//
// Thread-safety: DebugMessage and the log readers may run on any thread at
// once; set the fields before the parts under test start using the driver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/CaptureDriver.h"
#include "web/HUtils.h"

namespace dravnel::test {

class FakeDriver : public dravnel::IDriver {
public:
    struct Line {
        int level;
        std::string text;
    };

    FakeDriver() {
        device.Address = "127.0.0.1";
        device.Port = 80;
    }

    dravnel::DEVICE_INFO device;
    uint32_t channelCount = 1;
    uint32_t alarmInputs = 0;
    uint32_t alarmOutputs = 0;
    int codec = dravnel::kCodecH264;
    bool parameterFlag = false;
    std::string hostDirectory;
    std::string driverName = "Quarnel";
    std::map<int, std::string> parameters;
    dravnel::ipcapture::IHostFrameAllocator* hostContext = nullptr;

    void DebugMessage(int level, const char* format, ...) override QUARNEL_PRINTF(3, 4) {
        va_list args;
        va_start(args, format);
        std::string text = dravnel::HUtils::FormatV(format, args);
        va_end(args);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.push_back({level, std::move(text)});
        }
        changed_.notify_all();
    }

    std::string GetDriverName() override { return driverName; }
    std::string GetHostDirectory() override { return hostDirectory; }
    const dravnel::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<uint32_t, uint32_t> GetDeviceValues() override { return {alarmInputs, alarmOutputs}; }
    dravnel::ipcapture::IHostFrameAllocator* GetHostContext() override { return hostContext; }
    bool GetParameterFlag() override { return parameterFlag; }
    int GetCodec() override { return codec; }
    uint32_t GetChannelCount() override { return channelCount; }
    std::string GetAddressText() override { return device.Address + ":" + std::to_string(device.Port); }
    std::string GetParameterText(int number) override {
        auto it = parameters.find(number);
        return it == parameters.end() || it->second == "(none)" ? std::string() : it->second;
    }
    // As the driver reads it: an optional sign and decimal digits, nothing else.
    int GetParameterInt(int number) override {
        auto it = parameters.find(number);
        if (it == parameters.end()) return dravnel::kNoIntParameter;
        const std::string& text = it->second;
        size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
        if (i == text.size()) return dravnel::kNoIntParameter;
        uint32_t magnitude = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return dravnel::kNoIntParameter;
            magnitude = magnitude * 10u + static_cast<uint32_t>(text[i] - '0');
        }
        return static_cast<int>(text[0] == '-' ? 0u - magnitude : magnitude);
    }

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }
    // Lines whose text contains `part`.
    std::vector<Line> LinesContaining(const std::string& part) const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<Line> found;
        for (const auto& l : lines_)
            if (l.text.find(part) != std::string::npos) found.push_back(l);
        return found;
    }
    size_t CountContaining(const std::string& part) const { return LinesContaining(part).size(); }
    // Waits until `count` lines containing `part` have arrived.
    bool WaitFor(const std::string& part, std::chrono::milliseconds timeout, size_t count = 1) const {
        std::unique_lock<std::mutex> guard(mutex_);
        return changed_.wait_for(guard, timeout, [&] {
            size_t n = 0;
            for (const auto& l : lines_) n += l.text.find(part) != std::string::npos;
            return n >= count;
        });
    }
    void ClearLines() {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Line> lines_;
};

}  // namespace dravnel::test
