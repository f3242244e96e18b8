// The lines `quarnel sim` takes on its standard input while it runs, to
// change the simulated camera's alarm inputs and to switch its faults:
//
//   in N [on|off]      input N (from 1) active or inactive; without a state: toggle
//   cut                every open event stream ends
//   stall              every open event stream goes silent
//   res400 on|off      the event pages answer "res=400", or normally again
//   help               this list
#pragma once

#include <string>

#include "sim/device/AlarmDevice.h"

namespace dravnel::cli {

// Applies one line; what to print back (an error says why), empty for a blank line.
std::string ApplySimControl(sim::AlarmDevice& alarms, const std::string& line);

const char* SimControlHelp();

}  // namespace dravnel::cli
