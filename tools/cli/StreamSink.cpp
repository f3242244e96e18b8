#include "tools/cli/StreamSink.h"

#include <algorithm>

#include "quarnel/Types.h"
#include "tools/host/FrameAllocator.h"

namespace dravnel::cli {

StreamSink::~StreamSink() { Close(); }

bool StreamSink::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> guard(mutex_);
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = "cannot write " + path;
        return false;
    }
    path_ = path;
    return true;
}

void StreamSink::Close() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool StreamSink::DeliverFrame(dravnel::ipcapture::IHostFrame* frame) {
    auto* hostFrame = dynamic_cast<host::HostFrame*>(frame);
    if (!hostFrame) return false;
    const size_t size = std::min<size_t>(hostFrame->dataSize, hostFrame->buffer.size());
    const uint8_t* data = hostFrame->buffer.data();
    std::lock_guard<std::mutex> guard(mutex_);
    if (file_) {
        // An H.264 frame ends with the delimiter that opens the next access
        // unit; it is written in front of the next frame, so the file does not
        // end with a delimiter that opens nothing.
        static const uint8_t kDelimiter[] = {0, 0, 1, 9, 0x30};
        size_t body = size;
        const bool delimited = size >= sizeof kDelimiter &&
                               std::equal(kDelimiter, kDelimiter + sizeof kDelimiter, data + size - sizeof kDelimiter);
        if (delimited) body -= sizeof kDelimiter;
        if (heldDelimiter_ && std::fwrite(kDelimiter, 1, sizeof kDelimiter, file_) != sizeof kDelimiter)
            figures_.writeFailed = true;
        if (std::fwrite(data, 1, body, file_) != body) figures_.writeFailed = true;
        heldDelimiter_ = delimited;
    }
    ++figures_.frames;
    figures_.bytes += size;
    // A JPEG frame keeps the tag it was allocated with.
    const uint32_t tag = hostFrame->codecTag ? hostFrame->codecTag : hostFrame->allocationTag;
    if (tag == dravnel::kCodecTagH264Key || tag == dravnel::kCodecTagMpeg4Key || tag == dravnel::kCodecTagJpeg)
        ++figures_.keyFrames;
    figures_.lastTag = tag;
    figures_.width = hostFrame->width;
    figures_.height = hostFrame->height;
    return true;
}

void StreamSink::OnStreamSilent() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++figures_.silences;
}

StreamFigures StreamSink::Snapshot() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return figures_;
}

}  // namespace dravnel::cli
