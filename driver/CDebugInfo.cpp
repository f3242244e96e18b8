#include "driver/CDebugInfo.h"

namespace dravnel {

uint8_t AdjustLevelForHost(int level, uint16_t major, uint16_t minor) {
    const auto below = [&](uint16_t ma, uint16_t mi) { return major < ma || (major == ma && minor < mi); };
    if (below(5, 12)) {
        if (level == 3 || level == 100) level = 2;
    } else if (below(6, 3)) {
        if (level == 100) level = 3;
    }
    return static_cast<uint8_t>(level);
}

}  // namespace dravnel
