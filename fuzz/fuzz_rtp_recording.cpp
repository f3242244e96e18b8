// RtpRecording::Parse over arbitrary files: every packet and frame it returns
// lies inside the file, and the frames cover the packets in order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/rtsp/RtpRecording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto recording = dravnel::sim::RtpRecording::Parse({data, size}, error);
    if (!recording) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (recording->packets.empty() || recording->frames.empty()) __builtin_trap();
    for (const auto& packet : recording->packets)
        if (packet.size < 12 || packet.offset + packet.size > size) __builtin_trap();
    size_t next = 0;
    uint64_t ticks = 0;
    for (const auto& frame : recording->frames) {
        if (frame.firstPacket != next || frame.packetCount == 0 || frame.ticksFromStart != ticks) __builtin_trap();
        next += frame.packetCount;
        ticks += frame.ticksToNext;
    }
    if (next != recording->packets.size() || ticks != recording->loopTicks) __builtin_trap();
    (void)recording->Summary();
    return 0;
}
