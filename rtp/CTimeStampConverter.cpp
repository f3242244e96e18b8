#include "rtp/CTimeStampConverter.h"

#include <algorithm>
#include <limits>

#include "platform/Clock.h"

namespace dravnel {

namespace {

constexpr uint64_t kTicksTo100ns = 111;            // 90 kHz: 11.1 us per tick
constexpr uint64_t kMaxStep = 9'999'999;           // a step of a second or more restarts
constexpr size_t kLearningFrames = 100;            // increments before the measured rate is used
constexpr uint64_t kMinLeadToRepay = 10'000;       // 1 ms
constexpr uint64_t kMinStepToShorten = 40'000;     // 4 ms
constexpr uint64_t kMinRepayment = 10'000;         // 1 ms
constexpr uint64_t kRepeatAdvance = 10'000;        // 1 ms
constexpr uint64_t kLeadWorthKeeping = 2'500'001;  // about 250 ms

}  // namespace

CTimeStampConverter::CTimeStampConverter() : CTimeStampConverter(platform::SystemTimeAsFileTime) {}

CTimeStampConverter::CTimeStampConverter(Clock clock) : clock_(std::move(clock)) {}

void CTimeStampConverter::SetClock(Clock clock) { clock_ = std::move(clock); }

void CTimeStampConverter::Restart(uint64_t now) {
    output_ = now;
    lead_ = 0;
}

void CTimeStampConverter::Convert(uint32_t ts) {
    const uint64_t now = clock_();
    if (output_ == 0 || lastTimeStamp_ == 0) {
        Restart(now);
    } else {
        bool recordLead = false;
        bool restart = false;
        if (ts > lastTimeStamp_) {
            const uint32_t d = ts - lastTimeStamp_;
            ticks_.Add(d);
            if (now >= lastWall_) {
                // A gap of more than 7 minutes does not fit the window's type;
                // the largest value keeps the mean meaningful.
                const uint64_t elapsed = now - lastWall_;
                wall_.Add(static_cast<unsigned>(std::min<uint64_t>(elapsed, std::numeric_limits<unsigned>::max())));
            }
            if (ticks_.Count() <= kLearningFrames) {
                const uint64_t step = d * kTicksTo100ns;
                if (step > kMaxStep) {
                    restart = true;
                } else {
                    output_ += step;
                    recordLead = ticks_.Count() == kLearningFrames;
                }
            } else {
                // The camera's pace as measured against the wall clock. A jump
                // of a second or more (a new stream, a camera clock reset)
                // restarts as it does while learning, instead of dating frames
                // hours ahead.
                const double measured = d * wall_.Mean() / ticks_.Mean();
                if (!(measured <= static_cast<double>(kMaxStep))) {
                    restart = true;
                } else {
                    uint64_t step = static_cast<uint64_t>(measured);
                    if (lead_ > kMinLeadToRepay && step > kMinStepToShorten) {
                        const uint64_t correction = std::min(lead_, std::max(step / 10, kMinRepayment));
                        step -= correction;
                        lead_ -= correction;
                    }
                    output_ += step;
                }
            }
        } else {
            // Repeated or backwards: at least 1 ms on, never behind the wall clock.
            output_ = std::max(output_ + kRepeatAdvance, now);
            recordLead = true;
        }

        if (restart || output_ <= now) {
            Restart(now);
        } else {
            const uint64_t candidate = output_ - now;
            if (recordLead || candidate >= kLeadWorthKeeping) lead_ = candidate;
        }
    }
    lastWall_ = now;
    lastTimeStamp_ = ts;
}

SYSTEMTIME CTimeStampConverter::GetTime() const {
    SYSTEMTIME st;
    if (output_ != 0 && lastTimeStamp_ != 0 && platform::FileTimeToSystemTime(output_, st)) return st;
    if (platform::FileTimeToSystemTime(clock_(), st)) return st;
    return platform::CurrentSystemTime();
}

}  // namespace dravnel
