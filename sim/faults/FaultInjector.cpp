#include "sim/faults/FaultInjector.h"

#include "sim/device/SimCamera.h"

namespace dravnel::sim {

std::string FaultInjector::GarbageBytes() {
    std::string bytes = "\r\n\x01\x02\xfe\xff junk RTSP/1.0 999 Nonsense\r\nCSeq: x\r\n\r\n";
    bytes += std::string("$\x00\xff\xff", 4);
    bytes += std::string(64, '\xab');
    return bytes;
}

bool FaultInjector::Apply(const FaultStep& step, std::string& error) {
    RtspServer& rtsp = camera_.Rtsp();
    const bool fire = step.action == FaultStep::Action::Fire;
    bool ok = true;
    const auto drop = [&] { return !rtsp.Running() || rtsp.DropConnections(); };
    switch (step.kind) {
    case FaultKind::Drop:
        ok = drop();
        break;
    case FaultKind::StopRtp:
        ok = rtsp.SetSendingRtp(!fire);
        break;
    case FaultKind::Restart:
        ok = camera_.Restart();
        if (!ok) error = camera_.LastError();
        return ok;
    case FaultKind::RefuseDescribe:
        ok = rtsp.SetDescribeRefused(fire, 503) && (!fire || drop());
        break;
    case FaultKind::Unauthorized:
        camera_.Web().SetFaults(fire ? WebFaults{.status = 401} : WebFaults{});
        ok = !fire || drop();
        break;
    case FaultKind::StallCgi:
    case FaultKind::SlowCgi: {
        const uint32_t delay = step.kind == FaultKind::StallCgi ? kStallMs : kSlowMs;
        camera_.Web().SetFaults(fire ? WebFaults{.delayMs = delay} : WebFaults{});
        ok = !fire || drop();
        break;
    }
    case FaultKind::Garbage:
        ok = rtsp.SendGarbage(GarbageBytes());
        break;
    }
    if (!ok) error = rtsp.LastError();
    return ok;
}

}  // namespace dravnel::sim
