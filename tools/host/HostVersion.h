// The host process's answer to the driver's version question.
//
// Thread-safety: set before the driver is opened.
#pragma once

#include <cstdint>

namespace dravnel::host {

// The version the exported QuarnelHostProductVersion reports; `known` false
// makes it report nothing, so the driver falls back to its default.
void SetHostVersion(uint16_t major, uint16_t minor, uint16_t build = 0, uint16_t revision = 0);
void ClearHostVersion();

}  // namespace dravnel::host
