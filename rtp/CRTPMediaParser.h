// Common base of the depacketizers: turns the RTP packets of one video stream
// into whole frames in host-allocated frame objects. Keeps the frame being
// assembled, checks sequence continuity, guards the frame size and owns the
// frame clock.
//
// Thread-safety: none. A parser is driven by one thread at a time (the RTP
// delivery thread or the RTSP client thread, through the channel); the codec
// configuration is set before packets flow.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quarnel/CaptureDriver.h"
#include "rtp/CRTPPacket.h"
#include "rtp/CTimeStampConverter.h"
#include "rtp/IMediaParserClient.h"
#include "rtsp/CodecConfig.h"

namespace dravnel {

class CRTPMediaParser {
public:
    // Frames above this size are dropped.
    static constexpr size_t kMaxFrameBytes = 0xA00000;
    // Frames over which the frame buffer's storage is reviewed, and the
    // storage it always may keep (see ClearFrameBuffer).
    static constexpr size_t kCapacityWindow = 64;
    static constexpr size_t kKeptCapacity = 1 << 20;

    // `driver` (borrowed) gives the host context, the device for messages and
    // the log; `streamName` is handed to the host with every frame.
    CRTPMediaParser(IDriver* driver, std::string streamName);
    virtual ~CRTPMediaParser();
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    virtual void ProcessPacket(CRTPPacket* packet) = 0;
    virtual void Reset() = 0;
    // Keeps copies of the session description's parameter sets.
    virtual void SetCodecConfig(const CodecConfig* config);

    // False (and logged) when the frame buffer holds more than kMaxFrameBytes.
    bool CheckBufferSize();
    // Bytes the frame buffer has reserved.
    size_t FrameCapacity() const { return frame_.capacity(); }
    // The first packet, and every packet numbered one above the previous one
    // (modulo 65536), is in sequence; nothing is reordered. A packet out of
    // sequence is counted and told to the client.
    bool IsInSequence(const CRTPPacket* packet);
    uint64_t SequenceGaps() const { return sequenceGaps_; }
    void SetClient(IMediaParserClient* client) { client_ = client; }

    CTimeStampConverter& FrameClock() { return clock_; }
    // The frame being assembled; inside the client's OnFrame the bytes of the
    // frame handed over (for the parsers that deliver the buffer unchanged).
    std::span<const uint8_t> FrameBuffer() const { return frame_; }
    const CodecConfig& GetCodecConfig() const { return codecConfig_; }

    // Size class of a picture as the host files it.
    static uint32_t SizeClass(uint32_t width, uint32_t height);

protected:
    // Releases a host frame through the allocator it came from.
    struct FrameReleaser {
        ipcapture::IHostFrameAllocator* allocator;
        void operator()(ipcapture::IHostFrame* frame) const { allocator->ReleaseFrame(frame); }
    };
    using HostFramePtr = std::unique_ptr<ipcapture::IHostFrame, FrameReleaser>;

    ipcapture::IHostFrameAllocator* HostContext() const;
    // A host frame of the frame buffer's size holding a copy of it; null when
    // the host gives no frame or no buffer (`noBuffer` tells the latter).
    HostFramePtr CopyToHostFrame(ipcapture::IHostFrameAllocator* host, uint32_t codecTag, bool& noBuffer);
    // Makes room in the frame buffer for the packet and what a parser adds
    // around it (start codes, parameter sets, delimiter), growing it
    // geometrically but not far past kMaxFrameBytes.
    void ReserveFor(const CRTPPacket& packet);
    // Empties the frame buffer. Its storage is kept from frame to frame, but
    // once in kCapacityWindow frames what exceeds twice the window's largest
    // frame (and kKeptCapacity) is given back: a burst of huge or runaway
    // frames must not stay with the channel for good.
    void ClearFrameBuffer();

    IDriver* driver_;
    std::string streamName_;
    IMediaParserClient* client_ = nullptr;
    CTimeStampConverter clock_;
    std::vector<uint8_t> frame_;  // emptied by ClearFrameBuffer, which keeps its storage
    CodecConfig codecConfig_;

private:
    uint16_t lastSequence_ = 0;
    bool firstPacket_ = true;
    uint64_t sequenceGaps_ = 0;
    size_t windowFrames_ = 0;
    size_t windowLargest_ = 0;
};

}  // namespace dravnel
