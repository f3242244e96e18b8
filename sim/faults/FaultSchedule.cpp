#include "sim/faults/FaultSchedule.h"

#include <array>
#include <cmath>
#include <utility>

namespace dravnel::sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
    bool held;
};

constexpr std::array<KindName, 8> kKinds = {{
    {FaultKind::Drop, "drop", false},
    {FaultKind::StopRtp, "stop-rtp", true},
    {FaultKind::Restart, "restart", false},
    {FaultKind::RefuseDescribe, "refuse-describe", true},
    {FaultKind::Unauthorized, "401", true},
    {FaultKind::StallCgi, "stall-cgi", true},
    {FaultKind::SlowCgi, "slow-cgi", true},
    {FaultKind::Garbage, "garbage", false},
}};

constexpr uint32_t kMaxDurationMs = 24u * 3600u * 1000u;

// Whether clock value `at` has come, on a clock that wraps at 2^32.
bool Reached(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

bool FaultIsHeld(FaultKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.held;
    return false;
}

bool ParseFaultKinds(std::string_view text, std::vector<FaultKind>& kinds, std::string& error) {
    kinds.clear();
    if (text == "all") {
        for (const auto& k : kKinds) kinds.push_back(k.kind);
        return true;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string_view word = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
        bool known = false;
        for (const auto& k : kKinds) {
            if (word == k.name) {
                kinds.push_back(k.kind);
                known = true;
            }
        }
        if (!known) {
            error = "'" + std::string(word) +
                    "' is not a fault (drop, stop-rtp, restart, refuse-describe, 401, stall-cgi, slow-cgi, "
                    "garbage or all)";
            return false;
        }
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

bool ParseDurationMs(std::string_view text, uint32_t& ms, std::string& error) {
    const auto bad = [&] {
        error = "'" + std::string(text) + "' is not a duration from 1ms to 24h (such as 500ms, 2s, 1.5s, 1m)";
        return false;
    };
    double scale = 1000;
    std::string_view number = text;
    if (text.ends_with("ms")) {
        scale = 1;
        number.remove_suffix(2);
    } else if (text.ends_with("s")) {
        number.remove_suffix(1);
    } else if (text.ends_with("m")) {
        scale = 60000;
        number.remove_suffix(1);
    } else if (text.ends_with("h")) {
        scale = 3600000;
        number.remove_suffix(1);
    }
    if (number.empty() || number.size() > 12 || number.find_first_not_of("0123456789.") != number.npos ||
        number.front() == '.' || number.find('.') != number.rfind('.'))
        return bad();
    const double value = std::stod(std::string(number)) * scale;
    if (!(value >= 1) || value > kMaxDurationMs) return bad();
    ms = static_cast<uint32_t>(std::lround(value));
    return true;
}

bool CheckFaultSchedule(const FaultSchedule& schedule, std::string& error) {
    if (schedule.kinds.empty()) {
        error = "no fault kinds given";
        return false;
    }
    const uint32_t shortest = schedule.seed ? schedule.everyMs / 2 : schedule.everyMs;
    if (shortest == 0) {
        error = "the fault interval is too short";
        return false;
    }
    if (schedule.HoldMs() >= shortest) {
        error = "the hold (" + std::to_string(schedule.HoldMs()) + " ms) must be shorter than the " +
                (schedule.seed ? "shortest random interval (" : "interval (") + std::to_string(shortest) + " ms)";
        return false;
    }
    return true;
}

FaultScheduler::FaultScheduler(FaultSchedule schedule, uint32_t startMs)
    : schedule_(std::move(schedule)), random_(schedule_.seed.value_or(0)) {
    if (!schedule_.kinds.empty()) nextFire_ = startMs + NextInterval();
}

uint32_t FaultScheduler::NextInterval() {
    if (!schedule_.seed) return schedule_.everyMs;
    std::uniform_int_distribution<uint32_t> interval(schedule_.everyMs / 2, schedule_.everyMs / 2 * 3);
    return interval(random_);
}

FaultKind FaultScheduler::NextKind() {
    if (!schedule_.seed) return schedule_.kinds[turn_++ % schedule_.kinds.size()];
    std::uniform_int_distribution<size_t> pick(0, schedule_.kinds.size() - 1);
    return schedule_.kinds[pick(random_)];
}

std::vector<FaultStep> FaultScheduler::Due(uint32_t nowMs) {
    std::vector<FaultStep> steps;
    for (;;) {
        // A held fault ends at its time, or when the next one is due.
        const bool fireDue = nextFire_ && Reached(nowMs, *nextFire_);
        if (clearAt_ && (Reached(nowMs, *clearAt_) || fireDue)) {
            steps.push_back({FaultStep::Action::Clear, held_, fired_});
            clearAt_.reset();
            continue;
        }
        if (!fireDue) return steps;
        // A late fault fires now, and the next interval counts from now: a
        // camera that was busy does not make up for it with a burst.
        const uint32_t firedAt = nowMs;
        const FaultKind kind = NextKind();
        ++fired_;
        steps.push_back({FaultStep::Action::Fire, kind, fired_});
        if (FaultIsHeld(kind)) {
            held_ = kind;
            clearAt_ = firedAt + schedule_.HoldMs();
        }
        if (schedule_.count != 0 && fired_ >= schedule_.count)
            nextFire_.reset();
        else
            nextFire_ = firedAt + NextInterval();
    }
}

std::optional<uint32_t> FaultScheduler::UntilNext(uint32_t nowMs) const {
    std::optional<uint32_t> next;
    for (const auto& at : {nextFire_, clearAt_}) {
        if (!at) continue;
        const uint32_t wait = Reached(nowMs, *at) ? 0 : *at - nowMs;
        if (!next || wait < *next) next = wait;
    }
    return next;
}

}  // namespace dravnel::sim
