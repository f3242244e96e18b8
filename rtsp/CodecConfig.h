// Codec parameter sets of the video stream from the session description:
// H.264 SPS and PPS (sprop-parameter-sets) and the MPEG-4 "config" bytes, each
// without start codes and at most 256 bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace dravnel {

struct CodecConfig {
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    std::vector<uint8_t> config;

    void Clear() {
        sps.clear();
        pps.clear();
        config.clear();
    }
};

}  // namespace dravnel
