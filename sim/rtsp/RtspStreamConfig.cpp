#include "sim/rtsp/RtspStreamConfig.h"

#include <cctype>
#include <cstdio>

namespace dravnel::sim {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The moving SMPTE bars make every frame differ, so a receiver can tell
// frames apart and encoders produce real P-frames.
std::string SourceDescription(const RtspStreamConfig& c) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "videotestsrc is-live=true pattern=smpte horizontal-speed=4 "
                  "! video/x-raw,width=%u,height=%u,framerate=%u/1 "
                  "! videoconvert ! video/x-raw,format=I420",
                  c.width, c.height, c.fps);
    return text;
}

}  // namespace

const char* CodecName(RtspCodec codec) {
    switch (codec) {
    case RtspCodec::H264:
        return "H264";
    case RtspCodec::MPEG4:
        return "MPEG4";
    case RtspCodec::JPEG:
        return "JPEG";
    }
    return "H264";
}

std::optional<RtspCodec> ParseCodec(std::string_view name) {
    if (EqualNoCase(name, "H264")) return RtspCodec::H264;
    if (EqualNoCase(name, "MPEG4")) return RtspCodec::MPEG4;
    if (EqualNoCase(name, "JPEG") || EqualNoCase(name, "MJPEG")) return RtspCodec::JPEG;
    return std::nullopt;
}

std::string StreamPath(unsigned channel, unsigned stream) {
    return "/" + std::to_string(channel) + "/stream" + std::to_string(stream);
}

bool IsMountablePath(std::string_view path) {
    if (path.size() < 2 || path.size() > 200 || path[0] != '/') return false;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view segment = path.substr(start, end - start);
        if (segment.empty() || segment.find_first_not_of('.') == std::string_view::npos) return false;
        for (char c : segment)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
        start = end + 1;
    }
    return true;
}

std::string RtspStreamConfig::Validate() const {
    char text[160];
    if (width < 16 || width > 4096 || height < 16 || height > 4096 || width % 2 || height % 2) {
        std::snprintf(text, sizeof text, "size %ux%u: width and height must be even, 16 to 4096", width, height);
        return text;
    }
    // RFC 2435 carries the size in units of 8 pixels, at most 2040.
    if (codec == RtspCodec::JPEG && (width % 8 || height % 8 || width > 2040 || height > 2040)) {
        std::snprintf(text, sizeof text, "size %ux%u: JPEG needs multiples of 8, at most 2040", width, height);
        return text;
    }
    if (fps < 1 || fps > 60) return "frame rate " + std::to_string(fps) + ": must be 1 to 60";
    if (bitrateKbps < 16 || bitrateKbps > 100000)
        return "bit rate " + std::to_string(bitrateKbps) + " kbit/s: must be 16 to 100000";
    if (gop < 1 || gop > 1000) return "GOP " + std::to_string(gop) + ": must be 1 to 1000";
    if (alarmData && codec != RtspCodec::MPEG4) return "alarm data needs MPEG-4";
    if (jpegQuality < 1 || jpegQuality > 100)
        return "JPEG quality " + std::to_string(jpegQuality) + ": must be 1 to 100";
    return {};
}

std::string RtspStreamConfig::PipelineDescription() const {
    char encoder[320];
    switch (codec) {
    case RtspCodec::H264:
        std::snprintf(encoder, sizeof encoder,
                      "x264enc tune=zerolatency speed-preset=ultrafast threads=1 bitrate=%u "
                      "key-int-max=%u ! video/x-h264,profile=baseline "
                      "! rtph264pay name=pay0 pt=96 config-interval=-1",
                      bitrateKbps, gop);
        break;
    case RtspCodec::MPEG4:
        std::snprintf(encoder, sizeof encoder,
                      "avenc_mpeg4 name=enc bitrate=%u gop-size=%u max-bframes=0 flags=bitexact thread-type=slice "
                      "! rtpmp4vpay name=pay0 pt=96 config-interval=-1",
                      bitrateKbps * 1000u, gop);
        break;
    case RtspCodec::JPEG:
        std::snprintf(encoder, sizeof encoder, "jpegenc quality=%u ! rtpjpegpay name=pay0 pt=26", jpegQuality);
        break;
    }
    return "( " + SourceDescription(*this) + " ! " + encoder + " )";
}

void RtspStreamConfig::AddTo(ControlLine& line) const {
    line.Set("codec", CodecName(codec));
    line.Set("width", width);
    line.Set("height", height);
    line.Set("fps", fps);
    line.Set("bitrate", bitrateKbps);
    line.Set("gop", gop);
    line.Set("quality", jpegQuality);
    line.Set("alarm", alarmData ? 1u : 0u);
}

std::optional<RtspStreamConfig> RtspStreamConfig::From(const ControlLine& line) {
    auto codec = ParseCodec(line.Get("codec"));
    auto width = line.GetNumber("width");
    auto height = line.GetNumber("height");
    auto fps = line.GetNumber("fps");
    auto bitrate = line.GetNumber("bitrate");
    auto gop = line.GetNumber("gop");
    auto quality = line.GetNumber("quality");
    if (!codec || !width || !height || !fps || !bitrate || !gop || !quality) return std::nullopt;
    RtspStreamConfig config;
    config.codec = *codec;
    config.width = *width;
    config.height = *height;
    config.fps = *fps;
    config.bitrateKbps = *bitrate;
    config.gop = *gop;
    config.jpegQuality = *quality;
    config.alarmData = line.GetNumber("alarm").value_or(0) == 1;  // absent in older lines
    return config;
}

}  // namespace dravnel::sim
