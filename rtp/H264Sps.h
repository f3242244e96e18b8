// The picture size carried by an H.264 sequence parameter set (ITU-T H.264
// section 7.3.2.1.1), read straight from Annex B bytes.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dravnel {

struct PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// `nal` starts at the NAL unit header of an SPS (type 7) and may run on into
// the rest of an Annex B stream: the SPS ends at the next start code. False
// for another NAL type, a truncated or malformed SPS, or a size that is zero
// or above 65535 in either direction.
bool ReadSpsSize(std::span<const uint8_t> nal, PictureSize& size);

// Looks for a start code followed by an SPS that begins within the first
// `searchLimit` bytes of an Annex B frame (start code and NAL header
// included), and reads its size.
bool FindSpsSize(std::span<const uint8_t> frame, size_t searchLimit, PictureSize& size);

}  // namespace dravnel
