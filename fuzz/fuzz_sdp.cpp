// CSDPResponseParser over arbitrary session descriptions.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/CSDPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::CSDPResponseParser sdp;
    sdp.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto& c = sdp.codecConfig;
    if (c.sps.size() > 256 || c.pps.size() > 256 || c.config.size() > 256) __builtin_trap();
    for (const auto& m : sdp.media)
        if (m.connectionAddress.find('/') != std::string::npos) __builtin_trap();
    return 0;
}
