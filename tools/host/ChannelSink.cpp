#include "tools/host/ChannelSink.h"

#include <algorithm>

#include "tools/host/FrameAllocator.h"

namespace dravnel::host {

bool ChannelSink::DeliverFrame(dravnel::ipcapture::IHostFrame* frame) {
    if (!frame) return false;
    FrameRecord record;
    auto* hostFrame = dynamic_cast<HostFrame*>(frame);
    const uint8_t* bytes = frame->GetBuffer();
    size_t size = 0;
    if (hostFrame) {
        record.allocationTag = hostFrame->allocationTag;
        record.codecTag = hostFrame->codecTag;
        record.width = hostFrame->width;
        record.height = hostFrame->height;
        record.sizeClass = hostFrame->sizeClass;
        record.dataSize = hostFrame->dataSize;
        record.timeSet = hostFrame->timeSet;
        record.time = hostFrame->time;
        record.streamName = hostFrame->streamName;
        record.calls = hostFrame->calls;
        size = std::min<size_t>(hostFrame->dataSize, hostFrame->buffer.size());
        if (keepData_) record.data.assign(bytes, bytes + size);
    }
    if (!accept) return false;
    std::function<void(const FrameRecord&, const uint8_t*, size_t)> listener;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        listener = listener_;
        if (listener) listener(record, bytes, size);
        frames_.push_back(std::move(record));
    }
    changed_.notify_all();
    return true;
}

void ChannelSink::OnStreamSilent() {
    ++silences_;
    changed_.notify_all();
}

std::vector<FrameRecord> ChannelSink::Frames() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frames_;
}

size_t ChannelSink::FrameCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return frames_.size();
}

bool ChannelSink::WaitForFrames(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return frames_.size() >= count; });
}

void ChannelSink::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    frames_.clear();
    silences_ = 0;
}

void ChannelSink::SetListener(std::function<void(const FrameRecord&, const uint8_t*, size_t)> listener) {
    std::lock_guard<std::mutex> guard(mutex_);
    listener_ = std::move(listener);
}

}  // namespace dravnel::host
