// Audio parameters of one direction (input or output) of a device.
//
// Thread-safety: a plain value.
#pragma once

#include <cstdint>
#include <string>

namespace dravnel {

class CAudioCapabilities {
public:
    virtual ~CAudioCapabilities() = default;

    // "Count=2; IsStereo=1"
    std::string Text() const { return "Count=" + std::to_string(count) + "; IsStereo=" + (isStereo ? "1" : "0"); }

    uint32_t count = 0;  // audio channels; 0: no audio in this direction
    bool isStereo = false;
};

}  // namespace dravnel
