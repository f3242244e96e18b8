// A fault schedule for the simulated camera: which kinds of fault to fire,
// how often, for how long a held fault lasts, and how many in all; and the
// scheduler that turns it into timed steps against a millisecond clock that
// the caller supplies (so tests step it by hand).
//
// Command-line form (quarnel sim):
//
//   --faults KIND[,KIND...]   drop, stop-rtp, restart, refuse-describe, 401,
//                             stall-cgi, slow-cgi, garbage, or all
//   --fault-every DURATION    time between faults: 500ms, 2s, 1.5s (default 5s)
//   --fault-seed N            random order of kinds and random intervals
//                             (uniform in [every/2, every*3/2]); without it
//                             the kinds take turns at a fixed interval
//   --fault-hold DURATION     how long a held fault lasts (default: half the interval)
//   --fault-count N           stop firing after N faults (default: no limit)
//
// Held faults (stop-rtp, refuse-describe, 401, stall-cgi, slow-cgi) are
// switched off after the hold, and always before the next fault fires.
//
// Thread-safety: FaultSchedule is a value; a FaultScheduler belongs to one
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel::sim {

enum class FaultKind { Drop, StopRtp, Restart, RefuseDescribe, Unauthorized, StallCgi, SlowCgi, Garbage };

// "drop", "stop-rtp", ..., "401" as the command line names them.
const char* FaultKindName(FaultKind kind);
// Whether the fault lasts (and is switched off again) or happens at once.
bool FaultIsHeld(FaultKind kind);

struct FaultSchedule {
    std::vector<FaultKind> kinds = {};
    uint32_t everyMs = 5000;
    std::optional<uint32_t> seed = {};    // random order and intervals
    std::optional<uint32_t> holdMs = {};  // default: everyMs / 2
    uint32_t count = 0;                   // 0: no limit

    uint32_t HoldMs() const { return holdMs ? *holdMs : everyMs / 2; }
};

// "drop,401" or "all"; false with `error` naming the bad word.
bool ParseFaultKinds(std::string_view text, std::vector<FaultKind>& kinds, std::string& error);
// "250ms", "2s", "1.5s", "1m" (a bare number is seconds); 1 ms to 24 h.
bool ParseDurationMs(std::string_view text, uint32_t& ms, std::string& error);
// Checks a filled schedule: kinds given, hold shorter than the interval
// (the shortest one, with a seed).
bool CheckFaultSchedule(const FaultSchedule& schedule, std::string& error);

struct FaultStep {
    enum class Action { Fire, Clear };
    Action action = Action::Fire;
    FaultKind kind = FaultKind::Drop;
    uint32_t number = 0;  // 1 for the first fault fired
};

class FaultScheduler {
public:
    // The first fault fires one interval after startMs.
    FaultScheduler(FaultSchedule schedule, uint32_t startMs);

    // The steps due at nowMs, in order: a clear always before the next fire,
    // at most one fire; hold and next interval count from nowMs.
    std::vector<FaultStep> Due(uint32_t nowMs);
    // Milliseconds from nowMs to the next step; nullopt when none is left.
    std::optional<uint32_t> UntilNext(uint32_t nowMs) const;
    uint32_t Fired() const { return fired_; }
    bool Done() const { return !nextFire_ && !clearAt_; }

private:
    uint32_t NextInterval();
    FaultKind NextKind();

    const FaultSchedule schedule_;
    std::mt19937 random_;
    uint32_t fired_ = 0;
    size_t turn_ = 0;
    std::optional<uint32_t> nextFire_;  // clock value of the next fire
    std::optional<uint32_t> clearAt_;   // clock value that switches the held fault off
    FaultKind held_ = FaultKind::Drop;
};

}  // namespace dravnel::sim
