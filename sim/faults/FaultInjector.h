// Applies the steps of a FaultScheduler to a running SimCamera through its
// fault switches:
//
//   drop             every RTSP session and connection ends
//   stop-rtp         RTP stops on every stream while held (sessions and RTCP go on)
//   restart          the camera reboots (both servers go and come back)
//   refuse-describe  connections end; DESCRIBE is answered 503 while held
//   401              connections end; every CGI page answers 401 while held
//   stall-cgi        connections end; the CGI pages answer after kStallMs while held
//   slow-cgi         connections end; the CGI pages answer after kSlowMs while held
//   garbage          unframed bytes, with an oversized interleaved frame
//                    header, on every RTSP connection
//
// The faults that only a new connection meets end the open connections, so
// that each fault forces a reconnect into it.
//
// Thread-safety: Apply belongs to one thread at a time (the camera's control
// thread).
#pragma once

#include <cstdint>
#include <string>

#include "sim/faults/FaultSchedule.h"

namespace dravnel::sim {

class SimCamera;

class FaultInjector {
public:
    // Longer than a client's usual 5 s HTTP time-out.
    static constexpr uint32_t kStallMs = 8000;
    static constexpr uint32_t kSlowMs = 1500;

    explicit FaultInjector(SimCamera& camera) : camera_(camera) {}

    // False with `error` when a switch failed (the camera may be down).
    bool Apply(const FaultStep& step, std::string& error);

    // What garbage writes: junk, a bogus status line and a '$' frame that
    // announces 65535 bytes and brings 64.
    static std::string GarbageBytes();

private:
    SimCamera& camera_;
};

}  // namespace dravnel::sim
