#include "tools/host/HostVersion.h"

#include <atomic>

#include "quarnel/Exports.h"

namespace {
std::atomic<bool> known{false};
std::atomic<uint64_t> packed{0};
}  // namespace

namespace dravnel::host {

void SetHostVersion(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision) {
    packed = static_cast<uint64_t>(major) << 48 | static_cast<uint64_t>(minor) << 32 |
             static_cast<uint64_t>(build) << 16 | revision;
    known = true;
}

void ClearHostVersion() { known = false; }

}  // namespace dravnel::host

// Exported from the host executable so that the driver finds it with dlsym.
extern "C" QUARNEL_HOST_EXPORT int QuarnelHostProductVersion(uint16_t version[4]) {
    if (!known || !version) return 0;
    const uint64_t v = packed;
    version[0] = static_cast<uint16_t>(v >> 48);
    version[1] = static_cast<uint16_t>(v >> 32);
    version[2] = static_cast<uint16_t>(v >> 16);
    version[3] = static_cast<uint16_t>(v);
    return 1;
}
