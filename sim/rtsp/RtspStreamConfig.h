// What the simulated camera streams on one RTSP path: codec, picture size,
// frame rate, bit rate and key-frame distance, and the GStreamer pipeline that
// produces it from a moving live test picture.
//
// Thread-safety: value type; the functions are pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/rtsp/ControlLine.h"

namespace dravnel::sim {

enum class RtspCodec { H264, MPEG4, JPEG };

// "H264", "MPEG4", "JPEG".
const char* CodecName(RtspCodec codec);
// Case-insensitive; "MJPEG" is taken for JPEG.
std::optional<RtspCodec> ParseCodec(std::string_view name);

// "/N/streamM", the path a camera serves channel N (from 1), stream M on.
std::string StreamPath(unsigned channel, unsigned stream);
// A path the server can mount: "/" then letters, digits and "_-./", no empty
// or dot-only segment, at most 200 characters.
bool IsMountablePath(std::string_view path);

struct RtspStreamConfig {
    RtspCodec codec = RtspCodec::H264;
    unsigned width = 640;
    unsigned height = 480;
    unsigned fps = 25;
    unsigned bitrateKbps = 1024;  // H.264 and MPEG-4
    unsigned gop = 25;            // frames from one key frame to the next; H.264 and MPEG-4
    unsigned jpegQuality = 85;    // JPEG only, 1..100
    // MPEG-4 only: a user data block with the alarm bits in front of every
    // VOP, as the older Vista MPEG devices send (see MediaServer).
    bool alarmData = false;

    bool operator==(const RtspStreamConfig&) const = default;

    // Empty when the configuration can be streamed, else the reason.
    std::string Validate() const;

    // gst-launch description of the media bin: a live videotestsrc at the
    // configured size and rate, the encoder, and the payloader named "pay0"
    // (payload type 96, 26 for JPEG). H.264 repeats SPS and PPS before every
    // IDR picture and MPEG-4 the VOS/VOL headers before every I-VOP; both also
    // appear in the SDP (sprop-parameter-sets, config). No encoder reorders
    // frames. The MPEG-4 encoder is named "enc": avenc_mpeg4 (GStreamer 1.22
    // with FFmpeg 5) loses the time stamps, which the media server restores
    // from its input.
    std::string PipelineDescription() const;

    // The fields of a "stream" control line, and back.
    void AddTo(ControlLine& line) const;
    // nullopt when a field is missing or malformed (Validate is separate).
    static std::optional<RtspStreamConfig> From(const ControlLine& line);
};

}  // namespace dravnel::sim
