// The MPEG-4 configuration header reader over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/CMP4Parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t width = 0, height = 0;
    if (dravnel::CMP4Parser::ReadFrameSize(std::span<const uint8_t>(data, size), width, height)) {
        if (width == 0 || height == 0 || width > 32000 || height > 32000) __builtin_trap();
    }
    return 0;
}
