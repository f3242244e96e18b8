// The host's capability sink and results object, recording everything the
// query writes.
//
// Thread-safety: written by the query thread, read by any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quarnel/CapabilityQuery.h"

namespace dravnel::host {

struct PropertyRecord {
    uint32_t id = 0;
    std::string name;
    std::string value;
    uint32_t attributeA = 0;
    uint32_t attributeB = 0;
};

struct ResolutionRecord {
    std::string text;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t rate = 0;
};

class CapabilityRecorder : public dravnel::ipcapture::IHostCapabilitySink,
                           public dravnel::ipcapture::IHostCapabilityResults {
public:
    CapabilityRecorder();
    ~CapabilityRecorder() override;

    // Sink
    void OnQueryCompleted() override;
    void OnQueryFailed(uint32_t reason, const char* message) override;
    void OnQueryTerminated() override;

    // Results
    void SetCapability(uint32_t id, uint32_t value) override;
    void SetDeviceName(const char* name) override;
    dravnel::ipcapture::IHostTextField* GetConnectionField(uint32_t index) override;
    dravnel::ipcapture::IHostPropertyEntry* CreateProperty(uint32_t id) override;
    dravnel::ipcapture::IHostResolutionList* GetResolutionList() override;
    dravnel::ipcapture::IHostFrameRateList* GetFrameRateList(uint32_t kind) override;

    // What arrived.
    enum class Outcome { None, Completed, Failed, Terminated };
    bool WaitForOutcome(std::chrono::milliseconds timeout) const;
    Outcome outcome() const;
    // Sink calls so far (a query makes exactly one).
    uint32_t outcomeCount() const;
    uint32_t failureReason() const;
    std::string failureMessage() const;
    std::vector<std::pair<uint32_t, uint32_t>> capabilities() const;
    std::string deviceName() const;
    std::map<uint32_t, std::string> connectionFields() const;
    std::vector<PropertyRecord> properties() const;
    std::vector<ResolutionRecord> resolutions() const;
    std::vector<uint32_t> frameRates() const;
    uint32_t defaultFrameRate() const;

private:
    class TextField;
    class PropertyEntry;
    class ResolutionList;
    class FrameRateList;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Outcome outcome_ = Outcome::None;
    uint32_t outcomeCount_ = 0;
    uint32_t reason_ = 0;
    std::string message_;
    std::vector<std::pair<uint32_t, uint32_t>> capabilities_;
    std::string deviceName_;
    std::map<uint32_t, std::string> connection_;
    std::vector<std::unique_ptr<TextField>> fields_;
    std::vector<std::unique_ptr<PropertyEntry>> properties_;
    std::unique_ptr<ResolutionList> resolutionList_;
    std::unique_ptr<FrameRateList> frameRateList_;
};

}  // namespace dravnel::host
