// The JPEG depacketizer fed a sequence of packets (records as in
// DepacketizerFuzz.h; JPEG has no session description). Every image fits the
// room it asked for and begins with SOI.
#include "fuzz/DepacketizerFuzz.h"
#include "rtp/CJpegRTPMediaParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::fuzz::RunDepacketizer<dravnel::CJpegRTPMediaParser>(
        data, size,
        [](const dravnel::fuzz::Frame& frame) {
            return frame.size <= frame.buffer.size() && frame.size >= 4 && frame.buffer[0] == 0xFF &&
                   frame.buffer[1] == 0xD8;
        },
        [](dravnel::CJpegRTPMediaParser&, const uint8_t*, size_t) {});
    return 0;
}
