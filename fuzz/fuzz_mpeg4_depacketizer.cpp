// The MPEG-4 depacketizer fed a sequence of packets (records as in
// DepacketizerFuzz.h; a session description is the config of its fmtp line).
// Every frame fills exactly the room it asked for.
#include "fuzz/DepacketizerFuzz.h"
#include "rtp/CMpeg4RTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::fuzz::RunDepacketizer<dravnel::CMpeg4RTPMediaParser>(
        data, size,
        [](const dravnel::fuzz::Frame& frame) { return frame.size == frame.buffer.size() && frame.size != 0; },
        [](dravnel::CMpeg4RTPMediaParser& parser, const uint8_t* payload, size_t length) {
            dravnel::CodecConfig config;
            config.config.assign(payload, payload + length);
            parser.SetCodecConfig(&config);
        });
    return 0;
}
