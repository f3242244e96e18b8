// The simulated camera's PTZ: the command page and the PTZ configuration page.
//
//   "/ptz/control.php?ch=N&pspd=S&move=left"   starts a move (pspd pan speed,
//                          tspd tilt speed, 1..8; a diagonal takes tspd for both)
//   "...&move=stop"        ends a pan/tilt move;  "&zoom=tele|wide|stop"
//   "...&focus=near|far|stop", "&iris=open|close|stop"
//   "...&presetsave=P"     stores the position as preset P (1..kMaxPresets)
//   "...&preset=P"         goes to preset P (400 when P was never stored)
//   "/device/ptz.php?app=get"   "res=200&ptz_count=C&ptz1_enable=1&..."
//
// Every command page request is recorded as received. Each channel's head
// has a position (pan 0..360 degrees, wrapping; tilt -90..90; zoom 1..20)
// that moves while a move runs, at 5 degrees a second per speed step (zoom:
// 1x a second), and stops where it is on a stop. The clock is injectable.
//
// The slow-camera switches: SetDelayMs answers every command after a wait;
// Hold(true) keeps every command waiting (bounded: at most kMaxHoldMs) until
// Hold(false), which lets a test fill the driver's queue behind a command the
// camera has not answered yet.
//
// Thread-safety: every member may be called from any thread while the pages
// serve requests; the pages share the state, so they stay valid on the
// server after the PtzPages object is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/web/WebServer.h"

namespace dravnel::sim {

struct PtzPosition {
    double pan = 0;             // degrees, 0..360
    double tilt = 0;            // degrees, -90..90
    double zoom = 1;            // 1..20
    std::string move = "stop";  // the running pan/tilt move, or "stop"
    std::string zoomMotion = "stop";
    std::string focus = "stop";
    std::string iris = "stop";
};

class PtzPages {
public:
    static constexpr unsigned kMaxPresets = 256;
    static constexpr uint32_t kMaxHoldMs = 20000;

    // Milliseconds of a monotonic clock.
    using Clock = std::function<uint64_t()>;

    PtzPages(WebServer& web, unsigned channels);
    ~PtzPages();
    PtzPages(const PtzPages&) = delete;
    PtzPages& operator=(const PtzPages&) = delete;

    // Command page targets, in arrival order (path and query as received).
    std::vector<std::string> Commands() const;
    void ClearCommands();
    // Waits until at least `count` commands arrived (held ones included).
    bool WaitForCommands(size_t count, uint32_t timeoutMs) const;

    // The head of channel 1..N, as it stands now.
    PtzPosition Position(unsigned channel) const;
    void SetPosition(unsigned channel, double pan, double tilt, double zoom);
    // Whether preset P (1..) of a channel is stored.
    bool HasPreset(unsigned channel, unsigned preset) const;

    void SetPtzEnabled(unsigned channel, bool enabled);
    // Answer the configuration page with an empty 200 reply.
    void SetEmptyConfiguration(bool empty);

    void SetDelayMs(uint32_t ms);
    void Hold(bool hold);
    void SetClock(Clock clock);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dravnel::sim
