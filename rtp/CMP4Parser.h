// The configuration headers of an MPEG-4 Visual stream (ISO/IEC 14496-2) and
// the picture size they announce.
//
//   00 00 01 B0  visual object sequence: profile_and_level_indication
//   00 00 01 B2  user data (any number, skipped)
//   00 00 01 B5  visual object: [verid, priority], type 1 (video), [video signal type]
//   00 00 01 0x  video object
//   00 00 01 2x  video object layer: ... shape (rectangular), time increment
//                resolution, [fixed increment], width (13), height (13)
//   00 00 01 B6  VOP ...
//
// Thread-safety: none; owned and used by one depacketizer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dravnel {

class CMP4Parser {
public:
    virtual ~CMP4Parser() = default;

    // The picture size of the video object layer in headers that begin with
    // a visual object sequence start code. False when a start code, a marker
    // bit or a required value (video object type 1, object type indication
    // 1 or 17, 4:2:0 chroma, rectangular shape) is missing or wrong, or the
    // size, rounded up to macroblocks, is 0 or above 32000.
    static bool ReadFrameSize(std::span<const uint8_t> bytes, uint32_t& width, uint32_t& height);
    bool ReadFrameSize(const uint8_t* bytes, size_t length, uint32_t& width, uint32_t& height) const {
        return ReadFrameSize(std::span<const uint8_t>(bytes, length), width, height);
    }

    // The in-band configuration: what preceded the VOP in the last packet
    // that began with a visual object sequence.
    const std::vector<uint8_t>& Configuration() const { return configuration_; }
    void SetConfiguration(std::span<const uint8_t> bytes) { configuration_.assign(bytes.begin(), bytes.end()); }

private:
    std::vector<uint8_t> configuration_;
};

}  // namespace dravnel
