// The H.264 depacketizer fed a sequence of packets (records as in
// DepacketizerFuzz.h; a session description is the SPS, then the PPS from the
// first 00 00 01 on). Every frame ends with the access unit delimiter.
#include <algorithm>
#include <cstring>

#include "fuzz/DepacketizerFuzz.h"
#include "rtp/CH264RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::fuzz::RunDepacketizer<dravnel::CH264RTPMediaParser>(
        data, size,
        [](const dravnel::fuzz::Frame& frame) {
            static const uint8_t kTrailer[] = {0x00, 0x00, 0x01, 0x09, 0x30};
            return frame.size >= sizeof kTrailer &&
                   std::memcmp(frame.buffer.data() + frame.size - sizeof kTrailer, kTrailer, sizeof kTrailer) == 0;
        },
        [](dravnel::CH264RTPMediaParser& parser, const uint8_t* payload, size_t length) {
            const uint8_t* end = payload + length;
            static const uint8_t kStart[] = {0x00, 0x00, 0x01};
            const uint8_t* split = std::search(payload, end, kStart, kStart + 3);
            dravnel::CodecConfig config;
            config.sps.assign(payload, split);
            if (split != end) config.pps.assign(split + 3, end);
            parser.SetCodecConfig(&config);
        });
    return 0;
}
