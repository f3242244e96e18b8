// The SPS picture size reader over arbitrary NAL units and frames.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/H264Sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    dravnel::PictureSize s;
    if (dravnel::ReadSpsSize(bytes, s)) {
        if (s.width == 0 || s.height == 0 || s.width > 65535 || s.height > 65535) __builtin_trap();
    }
    if (dravnel::FindSpsSize(bytes, 64, s)) {
        if (s.width == 0 || s.height == 0) __builtin_trap();
    }
    return 0;
}
