#include "sim/rtsp/RtpRecording.h"

#include <algorithm>
#include <cstdio>

#include "rtp/ByteReader.h"

namespace dravnel::sim {

namespace {

constexpr uint32_t kDefaultTicks = RtpRecording::kClockRate / 25;
constexpr uint32_t kLongestGap = 2 * RtpRecording::kClockRate;

std::string Hex(std::span<const uint8_t> data) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : data) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string Base64(std::span<const uint8_t> data) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t n = uint32_t{data[i]} << 16 | (i + 1 < data.size() ? uint32_t{data[i + 1]} << 8 : 0) |
                           (i + 2 < data.size() ? data[i + 2] : 0);
        text += alphabet[n >> 18 & 63];
        text += alphabet[n >> 12 & 63];
        text += i + 1 < data.size() ? alphabet[n >> 6 & 63] : '=';
        text += i + 2 < data.size() ? alphabet[n & 63] : '=';
    }
    return text;
}

bool StartCodeAt(std::span<const uint8_t> data, size_t at) {
    return at + 3 < data.size() && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
}

// The payload of a packet whose header Parse has checked.
std::span<const uint8_t> PayloadOf(std::span<const uint8_t> packet) {
    dravnel::ByteReader reader(packet);
    const uint8_t first = reader.U8();
    reader.Skip(11 + 4 * size_t(first & 0x0F));
    if (first & 0x10) {
        reader.Skip(2);
        reader.Skip(4 * size_t(reader.U16()));
    }
    std::span<const uint8_t> payload = reader.Rest();
    if ((first & 0x20) && !payload.empty()) {
        const size_t padding = packet.back();
        payload = padding <= payload.size() ? payload.first(payload.size() - padding) : std::span<const uint8_t>{};
    }
    return payload;
}

// The NAL units of an H.264 payload that stand whole in it: a single NAL
// unit, or each unit of a STAP-A.
template <typename Visit>
void ForEachWholeNal(std::span<const uint8_t> payload, Visit visit) {
    if (payload.empty()) return;
    const uint8_t type = payload[0] & 0x1F;
    if (type >= 1 && type <= 23) {
        visit(payload);
        return;
    }
    if (type != 24) return;
    dravnel::ByteReader reader(payload.subspan(1));
    while (reader.remaining() >= 2) {
        const uint16_t size = reader.U16();
        std::span<const uint8_t> nal = reader.Bytes(size);
        if (!reader.ok() || nal.empty()) return;
        visit(nal);
    }
}

void AddH264Parameters(RtpRecording& recording) {
    std::vector<uint8_t> sps, pps;
    for (size_t i = 0; i < recording.packets.size() && (sps.empty() || pps.empty()); ++i) {
        ForEachWholeNal(PayloadOf(recording.PacketBytes(i)), [&](std::span<const uint8_t> nal) {
            const uint8_t type = nal[0] & 0x1F;
            if (type == 7 && sps.empty() && nal.size() >= 4) sps.assign(nal.begin(), nal.end());
            if (type == 8 && pps.empty()) pps.assign(nal.begin(), nal.end());
        });
    }
    recording.parameters.emplace_back("packetization-mode", "1");
    if (sps.empty() || pps.empty()) return;  // then only in band, as some cameras do
    recording.parameters.emplace_back("profile-level-id", Hex(std::span<const uint8_t>(sps).subspan(1, 3)));
    recording.parameters.emplace_back("sprop-parameter-sets", Base64(sps) + "," + Base64(pps));
}

// The configuration headers (VOS, VO, VOL) of the first packet that opens
// with them, up to its first GOV or VOP.
void AddMpeg4Parameters(RtpRecording& recording) {
    for (size_t i = 0; i < recording.packets.size(); ++i) {
        std::span<const uint8_t> payload = PayloadOf(recording.PacketBytes(i));
        if (!StartCodeAt(payload, 0) || payload[3] == 0xB6 || payload[3] == 0xB3) continue;
        size_t end = 4;
        while (end < payload.size() &&
               !(StartCodeAt(payload, end) && (payload[end + 3] == 0xB6 || payload[end + 3] == 0xB3)))
            ++end;
        const unsigned profile = payload[3] == 0xB0 && payload.size() > 4 ? payload[4] : 1;
        recording.parameters.emplace_back("profile-level-id", std::to_string(profile));
        recording.parameters.emplace_back("config", Hex(payload.first(end)));
        return;
    }
    recording.parameters.emplace_back("profile-level-id", "1");
}

std::string At(size_t index, size_t offset) {
    return "packet " + std::to_string(index + 1) + " at byte " + std::to_string(offset) + ": ";
}

}  // namespace

std::optional<RtpRecording> RtpRecording::Parse(std::span<const uint8_t> file, std::string& error) {
    if (file.size() > kMaxFileBytes) {
        error = "the recording is larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
        return std::nullopt;
    }
    RtpRecording recording;
    recording.bytes.assign(file.begin(), file.end());
    std::vector<uint32_t> timestamps;
    dravnel::ByteReader reader(file);
    while (reader.remaining() > 0) {
        const size_t at = reader.position();
        const uint16_t size = reader.U16();
        std::span<const uint8_t> packet = reader.Bytes(size);
        const size_t index = recording.packets.size();
        if (!reader.ok()) {
            error = At(index, at) + "the file ends inside it";
            return std::nullopt;
        }
        dravnel::ByteReader header(packet);
        const uint8_t first = header.U8();
        const uint8_t second = header.U8();
        header.Skip(2);
        const uint32_t timestamp = header.U32();
        header.Skip(4 + 4 * size_t(first & 0x0F));
        if (first & 0x10) {
            header.Skip(2);
            header.Skip(4 * size_t(header.U16()));
        }
        if (!header.ok() || size < 12) {
            error = At(index, at) + "too short for its RTP header (" + std::to_string(size) + " bytes)";
            return std::nullopt;
        }
        if (first >> 6 != 2) {
            error = At(index, at) + "not RTP version 2";
            return std::nullopt;
        }
        const uint8_t type = second & 0x7F;
        if (index == 0) {
            recording.payloadType = type;
        } else if (type != recording.payloadType) {
            error = At(index, at) + "payload type " + std::to_string(type) + " after " +
                    std::to_string(recording.payloadType) + ": a recording holds one stream";
            return std::nullopt;
        }
        recording.packets.push_back({at + 2, size});
        timestamps.push_back(timestamp);
    }
    if (recording.packets.empty()) {
        error = "the recording holds no packet";
        return std::nullopt;
    }

    for (size_t i = 0; i < recording.packets.size(); ++i) {
        if (i == 0 || timestamps[i] != timestamps[i - 1]) recording.frames.push_back({i, 0, 0, 0, 0});
        ++recording.frames.back().packetCount;
        recording.frames.back().bytes += recording.packets[i].size;
    }
    uint32_t last = kDefaultTicks;
    for (size_t f = 0; f < recording.frames.size(); ++f) {
        Frame& frame = recording.frames[f];
        if (f + 1 < recording.frames.size()) {
            const uint32_t gap = timestamps[recording.frames[f + 1].firstPacket] - timestamps[frame.firstPacket];
            last = gap == 0 || gap > kLongestGap ? kDefaultTicks : gap;
        }
        frame.ticksToNext = last;  // the last frame: as long as the one before
        frame.ticksFromStart = recording.loopTicks;
        recording.loopTicks += last;
    }

    std::span<const uint8_t> payload = PayloadOf(recording.PacketBytes(0));
    if (recording.payloadType == 26) {
        recording.codec = RtspCodec::JPEG;
    } else if (recording.payloadType < 96) {
        error = "payload type " + std::to_string(recording.payloadType) + " is not JPEG (26) nor dynamic (96-127)";
        return std::nullopt;
    } else if (StartCodeAt(payload, 0)) {
        recording.codec = RtspCodec::MPEG4;
        AddMpeg4Parameters(recording);
    } else if (!payload.empty() && (payload[0] & 0x80) == 0 && (payload[0] & 0x1F) >= 1 &&
               ((payload[0] & 0x1F) <= 24 || (payload[0] & 0x1F) == 28)) {
        recording.codec = RtspCodec::H264;
        AddH264Parameters(recording);
    } else {
        error = "the first payload is neither H.264 nor MPEG-4";
        return std::nullopt;
    }
    return recording;
}

double RtpRecording::Kbps() const {
    return loopTicks == 0 ? 0 : static_cast<double>(bytes.size() - 2 * packets.size()) * 8.0 / Seconds() / 1000.0;
}

size_t RtpRecording::LargestFrameBytes() const {
    size_t largest = 0;
    for (const Frame& frame : frames) largest = std::max(largest, frame.bytes);
    return largest;
}

std::string RtpRecording::Summary() const {
    const char* name = codec == RtspCodec::H264 ? "H.264" : codec == RtspCodec::MPEG4 ? "MPEG-4" : "JPEG";
    char text[160];
    std::snprintf(text, sizeof text, "%s, %zu frames in %.1f s, %.0f kbit/s, largest frame %zu KB", name, frames.size(),
                  Seconds(), Kbps(), (LargestFrameBytes() + 512) / 1024);
    return text;
}

}  // namespace dravnel::sim
