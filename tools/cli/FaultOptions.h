// The fault schedule options of quarnel sim (and quarnel soak, which hands
// them on): --faults, --fault-every, --fault-seed, --fault-hold, --fault-count, --fault-wait.
//
// Thread-safety: pure functions.
#pragma once

#include <string>
#include <vector>

#include "sim/faults/FaultSchedule.h"

namespace dravnel::cli {

struct FaultOptions {
    bool given = false;         // --faults was given
    bool waitForStart = false;  // --fault-wait: begin on the input line "faults start"
    sim::FaultSchedule schedule;
    std::vector<std::string> words;  // the options as given, to hand on
};

// Takes args[i] (and its value) when it is a fault option: returns true and
// moves i past the value. False with `error` empty when it is another option,
// false with `error` set when the value is bad.
bool TakeFaultOption(const std::vector<std::string>& args, size_t& i, FaultOptions& out, std::string& error);
// After all options: the schedule holds together (a --fault-* without
// --faults is an error too).
bool CheckFaultOptions(const FaultOptions& options, std::string& error);

extern const char* const kFaultOptionsHelp;

}  // namespace dravnel::cli
