// The frame clock: turns the 90 kHz RTP time stamps of a video stream into
// wall-clock capture times (FILETIME units, UTC) that follow the camera's
// pace, never run behind the wall clock, advance at least 1 ms for a repeated
// time stamp and pay back a lead of more than 1 ms a little at each frame.
//
// Thread-safety: none; a parser uses its clock on one thread at a time.
#pragma once

#include <cstdint>
#include <functional>

#include "quarnel/Types.h"
#include "rtp/TStatisticsHelper.h"

namespace dravnel {

class CTimeStampConverter {
public:
    // Current wall-clock time in FILETIME units (100 ns since 1601, UTC).
    using Clock = std::function<uint64_t()>;

    CTimeStampConverter();
    explicit CTimeStampConverter(Clock clock);
    virtual ~CTimeStampConverter() = default;

    // Advances the output time for one frame with this RTP time stamp.
    void Convert(uint32_t rtpTimeStamp);
    // The output time as a UTC SYSTEMTIME; the current time while none is set.
    SYSTEMTIME GetTime() const;

    void SetClock(Clock clock);
    uint64_t OutputTime() const { return output_; }
    uint64_t Lead() const { return lead_; }

private:
    void Restart(uint64_t now);

    Clock clock_;
    uint64_t output_ = 0;                // 0 = not started
    uint32_t lastTimeStamp_ = 0;         // 0 = none
    uint64_t lead_ = 0;                  // output ahead of the wall clock
    TStatisticsHelper<unsigned> ticks_;  // RTP time-stamp increments
    TStatisticsHelper<unsigned> wall_;   // wall-clock increments, 100 ns
    uint64_t lastWall_ = 0;
};

}  // namespace dravnel
