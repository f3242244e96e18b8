#include "channel/CLogThrottle.h"

namespace dravnel {

bool CLogThrottle::Advance() {
    const uint32_t n = ++count_;
    if (n < 15) return true;
    if (n < 255) return n % 16 == 0;
    if (n < 4095) return n % 256 == 0;
    if (n < 65535) return n % 4096 == 0;
    count_ = 4095;
    return false;
}

}  // namespace dravnel
