// The simulated camera's PTZ information page:
//
//   "/device/ptz.php?app=get"   res=200&ptz_count=2&ptz1_enable=1&ptz2_enable=1
//                               (res=200&ptz_count=0 on a camera without PTZ)
//
// Any other "app" is answered "res=400".
//
// Thread-safety: the setter may be called from any thread while the page
// serves requests; the page shares the state and outlives this object.
#pragma once

#include <memory>

#include "sim/web/WebServer.h"

namespace quarnel::sim {

class PtzPage {
public:
    PtzPage(WebServer& server, unsigned channels, bool enabled);

    // PTZ on every channel, or on none.
    void SetEnabled(bool enabled);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace quarnel::sim
