#include "tools/host/CapabilityRecorder.h"

namespace dravnel::host {

class CapabilityRecorder::TextField : public dravnel::ipcapture::IHostTextField {
public:
    TextField(CapabilityRecorder& owner, uint32_t index) : owner_(owner), index_(index) {}
    void SetText(const char* text) override {
        std::lock_guard<std::mutex> guard(owner_.mutex_);
        owner_.connection_[index_] = text ? text : "";
    }

private:
    CapabilityRecorder& owner_;
    uint32_t index_;
};

class CapabilityRecorder::PropertyEntry : public dravnel::ipcapture::IHostPropertyEntry {
public:
    PropertyEntry(CapabilityRecorder& owner, uint32_t id) : owner_(owner) { record.id = id; }
    void SetValue(const char* text) override {
        Locked([&] { record.value = text ? text : ""; });
    }
    void SetAttributeB(uint32_t value) override {
        Locked([&] { record.attributeB = value; });
    }
    void SetName(const char* text) override {
        Locked([&] { record.name = text ? text : ""; });
    }
    void SetAttributeA(uint32_t value) override {
        Locked([&] { record.attributeA = value; });
    }
    PropertyRecord record;

private:
    template <class F>
    void Locked(F f) {
        std::lock_guard<std::mutex> guard(owner_.mutex_);
        f();
    }
    CapabilityRecorder& owner_;
};

class CapabilityRecorder::ResolutionList : public dravnel::ipcapture::IHostResolutionList {
public:
    explicit ResolutionList(CapabilityRecorder& owner) : owner_(owner) {}
    void Add(const char* text, uint16_t width, uint16_t height, uint32_t rate) override {
        std::lock_guard<std::mutex> guard(owner_.mutex_);
        entries.push_back({text ? text : "", width, height, rate});
    }
    std::vector<ResolutionRecord> entries;

private:
    CapabilityRecorder& owner_;
};

class CapabilityRecorder::FrameRateList : public dravnel::ipcapture::IHostFrameRateList {
public:
    explicit FrameRateList(CapabilityRecorder& owner) : owner_(owner) {}
    void SetDefaultRate(uint32_t rate) override {
        std::lock_guard<std::mutex> guard(owner_.mutex_);
        defaultRate = rate;
    }
    void AddRate(uint32_t rate) override {
        std::lock_guard<std::mutex> guard(owner_.mutex_);
        rates.push_back(rate);
    }
    std::vector<uint32_t> rates;
    uint32_t defaultRate = 0;

private:
    CapabilityRecorder& owner_;
};

CapabilityRecorder::CapabilityRecorder()
    : resolutionList_(std::make_unique<ResolutionList>(*this)),
      frameRateList_(std::make_unique<FrameRateList>(*this)) {}

CapabilityRecorder::~CapabilityRecorder() = default;

void CapabilityRecorder::OnQueryCompleted() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outcome_ = Outcome::Completed;
        ++outcomeCount_;
        // Under the lock: a waiter that sees the outcome may destroy the
        // recorder, condition variable and all, as soon as it can return.
        changed_.notify_all();
    }
}

void CapabilityRecorder::OnQueryFailed(uint32_t reason, const char* message) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outcome_ = Outcome::Failed;
        ++outcomeCount_;
        reason_ = reason;
        message_ = message ? message : "";
        changed_.notify_all();
    }
}

void CapabilityRecorder::OnQueryTerminated() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outcome_ = Outcome::Terminated;
        ++outcomeCount_;
        changed_.notify_all();
    }
}

void CapabilityRecorder::SetCapability(uint32_t id, uint32_t value) {
    std::lock_guard<std::mutex> guard(mutex_);
    capabilities_.emplace_back(id, value);
}

void CapabilityRecorder::SetDeviceName(const char* name) {
    std::lock_guard<std::mutex> guard(mutex_);
    deviceName_ = name ? name : "";
}

dravnel::ipcapture::IHostTextField* CapabilityRecorder::GetConnectionField(uint32_t index) {
    std::lock_guard<std::mutex> guard(mutex_);
    fields_.push_back(std::make_unique<TextField>(*this, index));
    return fields_.back().get();
}

dravnel::ipcapture::IHostPropertyEntry* CapabilityRecorder::CreateProperty(uint32_t id) {
    std::lock_guard<std::mutex> guard(mutex_);
    properties_.push_back(std::make_unique<PropertyEntry>(*this, id));
    return properties_.back().get();
}

dravnel::ipcapture::IHostResolutionList* CapabilityRecorder::GetResolutionList() { return resolutionList_.get(); }

dravnel::ipcapture::IHostFrameRateList* CapabilityRecorder::GetFrameRateList(uint32_t) { return frameRateList_.get(); }

bool CapabilityRecorder::WaitForOutcome(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return outcome_ != Outcome::None; });
}

uint32_t CapabilityRecorder::outcomeCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return outcomeCount_;
}

CapabilityRecorder::Outcome CapabilityRecorder::outcome() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return outcome_;
}

uint32_t CapabilityRecorder::failureReason() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return reason_;
}

std::string CapabilityRecorder::failureMessage() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return message_;
}

std::vector<std::pair<uint32_t, uint32_t>> CapabilityRecorder::capabilities() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return capabilities_;
}

std::string CapabilityRecorder::deviceName() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return deviceName_;
}

std::map<uint32_t, std::string> CapabilityRecorder::connectionFields() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return connection_;
}

std::vector<PropertyRecord> CapabilityRecorder::properties() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<PropertyRecord> out;
    for (const auto& p : properties_) out.push_back(p->record);
    return out;
}

std::vector<ResolutionRecord> CapabilityRecorder::resolutions() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return resolutionList_->entries;
}

std::vector<uint32_t> CapabilityRecorder::frameRates() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frameRateList_->rates;
}

uint32_t CapabilityRecorder::defaultFrameRate() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frameRateList_->defaultRate;
}

}  // namespace dravnel::host
