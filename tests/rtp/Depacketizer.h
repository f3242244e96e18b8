// An H.264 depacketizer among recording host objects.
#pragma once

#include "rtp/CH264RTPMediaParser.h"
#include "tests/support/FakeDriver.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace quarnel::test {

// Frames come from the recording allocator and, as the channel would pass
// them on, go to the recording host sink (which refuses them when told to).
struct Depacketizer : public dravnel::IMediaParserClient {
    Depacketizer() {
        driver.hostContext = &allocator;
        parser.SetClient(this);
    }
    bool OnFrame(dravnel::ipcapture::IHostFrame* frame) override { return sink.DeliverFrame(frame); }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    quarnel::host::FrameAllocator allocator;
    quarnel::host::ChannelSink sink;
    FakeDriver driver;
    dravnel::CH264RTPMediaParser parser{&driver, "Quarnel"};
};

}  // namespace quarnel::test
