#include "driver/CIPVideoCapture.h"

namespace dravnel {
namespace {

// The host's values are 32-bit; only their low 16 bits carry meaning.
uint32_t Low16(uint32_t value) { return value & 0xFFFFu; }

ChannelParams ParamsFromDescription(ipcapture::IHostChannelDescription* description) {
    ChannelParams params;
    if (!description) return params;
    if (auto* stream = description->GetStream()) {
        params.FrameInterval = Low16(stream->GetFrameInterval());
        params.ModeWord = Low16(stream->GetModeWord());
    }
    if (auto* picture = description->GetPicture()) {
        if (auto* size = picture->GetSize()) {
            params.Width = Low16(size->GetWidth());
            params.Height = Low16(size->GetHeight());
        }
    }
    return params;
}

}  // namespace

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, unsigned channelCount)
    : creator_(creator), table_(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    std::vector<Entry> all;
    {
        CScopedLock guard(lock_);
        all.swap(table_);
    }
    for (Entry& entry : all) Dispose(entry);
}

unsigned CIPVideoCapture::GetChannelCount() {
    CScopedLock guard(lock_);
    return static_cast<unsigned>(table_.size());
}

ICameraChannel* CIPVideoCapture::Primary(unsigned index) const {
    return index < table_.size() ? table_[index].primary.get() : nullptr;
}

CIPVideoCapture::Entry CIPVideoCapture::Take(unsigned index) {
    CScopedLock guard(lock_);
    if (index >= table_.size()) return {};
    return std::move(table_[index]);
}

void CIPVideoCapture::Dispose(Entry& entry) {
    if (entry.primary) entry.primary->Stop();
    if (entry.secondary) entry.secondary->Stop();
    entry.primary.reset();
    entry.secondary.reset();
}

bool CIPVideoCapture::StartChannel(unsigned index, ipcapture::IHostChannelSink* sink,
                                   ipcapture::IHostChannelDescription* description) {
    if (index >= GetChannelCount()) return false;
    StopChannel(index);

    const ChannelParams params = ParamsFromDescription(description);
    Entry fresh;
    fresh.primary.reset(creator_ ? creator_->CreateChannel(index, sink) : nullptr);
    if (!fresh.primary) return false;
    const bool started = fresh.primary->Start(params);
    if (started && description && description->GetStream() && description->GetStream()->WantsSecondaryStream()) {
        fresh.secondary.reset(creator_->CreateSecondaryChannel(index, sink));
    }

    // Another host thread may have started this index meanwhile: the newer
    // channel wins and the displaced one is stopped, never leaked.
    {
        CScopedLock guard(lock_);
        std::swap(table_[index], fresh);
    }
    Dispose(fresh);
    return started;
}

bool CIPVideoCapture::StopChannel(unsigned index) {
    Entry entry = Take(index);
    const bool held = entry.primary || entry.secondary;
    Dispose(entry);
    return held;
}

bool CIPVideoCapture::UpdateChannel(unsigned index, ipcapture::IHostSize* size, unsigned frameInterval) {
    ChannelParams params;
    params.FrameInterval = frameInterval;
    params.ModeWord = 0;  // the channel keeps its own
    if (size) {
        params.Width = Low16(size->GetWidth());
        params.Height = Low16(size->GetHeight());
    }
    CScopedLock guard(lock_);
    ICameraChannel* channel = Primary(index);
    return channel && channel->UpdateParams(params);
}

bool CIPVideoCapture::GetChannelStatus(unsigned index, int* state, int* detail, char* text, unsigned textSize) {
    if (detail) *detail = 0;
    if (text && textSize) text[0] = '\0';
    CScopedLock guard(lock_);
    ICameraChannel* channel = Primary(index);
    if (!channel) return false;
    const int current = channel->GetChannelState();
    if (state) *state = current == kChannelStopped ? kChannelSignalLost : current;
    if (text && textSize) channel->DescribeStatus(text, textSize);
    return true;
}

bool CIPVideoCapture::IsChannelReservedB(unsigned index) {
    CScopedLock guard(lock_);
    ICameraChannel* channel = Primary(index);
    return channel && channel->IsReservedB();
}

bool CIPVideoCapture::IsChannelReservedA(unsigned index) {
    CScopedLock guard(lock_);
    ICameraChannel* channel = Primary(index);
    return channel && channel->IsReservedA();
}

}  // namespace dravnel
