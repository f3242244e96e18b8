// The receiver of a media parser's finished frames (the channel).
//
// Thread-safety: called on the thread that drives the parser.
#pragma once

#include <cstdint>
#include <utility>

#include "quarnel/HostObjects.h"

namespace dravnel {

// Has no destructor slot: the parser never owns its client.
class IMediaParserClient {
public:
    // A completed host frame; false means refused. The frame stays the
    // parser's and is released right after the call.
    virtual bool OnFrame(ipcapture::IHostFrame* frame) = 0;
    // Width and height the channel asked the device for.
    virtual std::pair<uint32_t, uint32_t> GetFrameSize() = 0;
    // A packet did not follow the one before it: packets were lost (or came
    // out of order), and with them the frame being assembled.
    virtual void OnSequenceGap() {}

protected:
    ~IMediaParserClient() = default;
};

}  // namespace dravnel
