// The host's handle on the device's video channels: a fixed table of camera
// channels, started, updated, queried and stopped by index. Frames never pass
// through here; each channel delivers to the sink the host gave at start.
//
// Thread-safety: the host may call every operation from several threads at
// once. The table is guarded by the lock. A channel is started, stopped and
// deleted outside the lock (those calls wait for threads); the short calls
// into a channel that stays in the table (UpdateParams, GetChannelState, the
// reserved queries) are made under the lock, so that a concurrent StopChannel
// cannot delete the channel while they run.
#pragma once

#include <memory>
#include <vector>

#include "quarnel/CaptureDriver.h"
#include "quarnel/VideoCapture.h"
#include "threads/CLock.h"

namespace dravnel {

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
public:
    // creator: borrowed; outlives the video capture.
    CIPVideoCapture(ICustomCreator* creator, unsigned channelCount);
    ~CIPVideoCapture() override;
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    unsigned GetChannelCount() override;
    bool StartChannel(unsigned index, ipcapture::IHostChannelSink* sink,
                      ipcapture::IHostChannelDescription* description) override;
    bool StopChannel(unsigned index) override;
    bool UpdateChannel(unsigned index, ipcapture::IHostSize* size, unsigned frameInterval) override;
    void* GetReservedC() override { return nullptr; }
    bool GetChannelStatus(unsigned index, int* state, int* detail, char* text, unsigned textSize) override;
    bool QueryReservedD(uint32_t, uint32_t, uint32_t) override { return false; }
    bool QueryReservedE(uint32_t, uint32_t, uint32_t) override { return false; }
    bool IsChannelReservedB(unsigned index) override;
    bool IsChannelReservedA(unsigned index) override;

private:
    struct Entry {
        std::unique_ptr<ICameraChannel> primary;
        std::unique_ptr<ICameraChannel> secondary;
    };

    // The entry's primary channel, or null; the caller holds the lock.
    ICameraChannel* Primary(unsigned index) const;
    // Empties the entry under the lock and hands its channels to the caller.
    Entry Take(unsigned index);
    // Stops and deletes; called outside the lock.
    static void Dispose(Entry& entry);

    ICustomCreator* creator_;
    CLock lock_;
    std::vector<Entry> table_;  // never changes size
};

}  // namespace dravnel
