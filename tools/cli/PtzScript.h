// What `quarnel ptz` is asked to do: a list of steps, each one PTZ request of
// the host, parsed from the words after the device options.
//
//   move right --speed 6 --for 500   zoom in   focus near   iris open
//   stop   preset add Door   preset go Door   preset delete Door   preset list   info
//
// Thread-safety: plain values and a pure parser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dravnel::cli {

struct PtzStep {
    enum class Kind { Move, Zoom, Focus, Iris, Stop, PresetAdd, PresetGo, PresetDelete, PresetList, Info };
    Kind kind = Kind::Info;
    std::string word;        // the direction (move, zoom, focus, iris) or preset name
    uint32_t direction = 0;  // Move: the host's direction 0..9
    int speed = 8;
    uint32_t forMs = 1000;  // motion: how long before the stop
};

struct PtzScript {
    unsigned channel = 0;
    bool sim = false;         // run against a simulated camera in this process
    uint32_t simDelayMs = 0;  // the simulated camera answers each command this late
    std::vector<PtzStep> steps;
};

// False with `error` (one line) on a word or value it does not know.
bool ParsePtzScript(const std::vector<std::string>& words, PtzScript& script, std::string& error);

// "PTZ_OK", "PTZ_E_FAIL", ... or the number.
std::string PtzResultName(int result);

}  // namespace dravnel::cli
