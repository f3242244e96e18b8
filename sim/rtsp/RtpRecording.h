// A recorded RTP video stream as the simulated camera replays it: the
// packets of an RFC 4571 file (GStreamer's rtpstreampay writes them), grouped
// into frames, with what an SDP needs to announce them.
//
//   file:    [ length (16 bits, big-endian) | RTP packet (length bytes) ] ...
//   packet:  V=2 P X CC | M PT | sequence | timestamp | SSRC | CSRCs | ext | payload
//
// A frame is a run of packets with one RTP timestamp; a camera sends it in
// one burst, and the next one when the timestamps say. The recording keeps
// for each frame the RTP ticks (90 kHz) to the next one, so a replayer loops
// it with time stamps that keep rising: a gap that runs backwards or past two
// seconds is taken as one 25th of a second.
//
// The codec is told from the payload type and the payloads: 26 is JPEG
// (RFC 2435); a dynamic type whose first payload opens with an MPEG-4 start
// code is MPEG-4 (RFC 3016), else H.264 (RFC 6184). For H.264 the first SPS
// and PPS (single NAL units or inside STAP-A) give sprop-parameter-sets and
// profile-level-id; for MPEG-4 the headers in front of the first VOP give
// config and profile-level-id.
//
// Thread-safety: value type; Parse is pure.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/rtsp/RtspStreamConfig.h"

namespace dravnel::sim {

struct RtpRecording {
    struct Packet {
        size_t offset = 0;  // into bytes: the whole RTP packet
        uint16_t size = 0;
    };
    struct Frame {
        size_t firstPacket = 0;
        size_t packetCount = 0;
        uint32_t ticksFromStart = 0;  // RTP ticks from the first frame of a pass
        uint32_t ticksToNext = 0;
        size_t bytes = 0;
    };

    static constexpr uint32_t kClockRate = 90000;
    static constexpr size_t kMaxFileBytes = 256u << 20;

    std::vector<uint8_t> bytes;  // the file, packets in place
    std::vector<Packet> packets;
    std::vector<Frame> frames;
    RtspCodec codec = RtspCodec::H264;
    uint8_t payloadType = 96;
    // SDP format parameters, name and value, as the payloader's caps carry them.
    std::vector<std::pair<std::string, std::string>> parameters;
    uint32_t loopTicks = 0;  // one pass, first frame to first frame

    // The recording, or nullopt with the reason ("packet 3 at byte 58: ...").
    static std::optional<RtpRecording> Parse(std::span<const uint8_t> file, std::string& error);

    std::span<const uint8_t> PacketBytes(size_t index) const {
        return std::span<const uint8_t>(bytes).subspan(packets[index].offset, packets[index].size);
    }
    double Seconds() const { return static_cast<double>(loopTicks) / kClockRate; }
    // Average bit rate of a pass, RTP headers included.
    double Kbps() const;
    size_t LargestFrameBytes() const;
    // "H.264, 150 frames in 6.0 s, 6012 kbit/s, largest frame 103 KB"
    std::string Summary() const;
};

}  // namespace dravnel::sim
