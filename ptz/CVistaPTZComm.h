// The PTZ device layer of Vista and Hitron cameras: every command is one GET
// of the camera's "/ptz/control.php?ch=<channel + 1>" followed by its query.
//
//   move right, speed 6     /ptz/control.php?ch=1&pspd=3&move=right
//   move up-left, speed 6   /ptz/control.php?ch=1&tspd=3&tspd=3&move=upleft
//   zoom in                 /ptz/control.php?ch=1&zoom=tele
//   stop moving             /ptz/control.php?ch=1&move=stop
//   recall slot 0           /ptz/control.php?ch=1&preset=1
//   store at slot 0         /ptz/control.php?ch=1&presetsave=1
//
// Move speeds (1 and up) become the camera's 1 to 8: (speed + 1) / 2, clamped.
// Focus and iris speeds only choose between motion and stop. Area zoom,
// centring and unzoom have no command on these cameras.
//
// Queued commands go out on the PTZ thread through one sender; preset recall
// and store and the PTZ configuration query run on the caller's thread
// through a second one, so the two never share a connection.
//
// Thread-safety: HandleWorkItem and SendCommand run on the PTZ thread only;
// IsPTZEnabled, IsPtzEnabledOnDevice and the preset link on the callers'
// threads (one at a time: the preset list and the host serialise them). The
// error throttle is shared and atomic.
#pragma once

#include <atomic>
#include <string>

#include "ptz/CBasePTZComm.h"
#include "web/CResultDef.h"
#include "web/CWinInetSender.h"

namespace dravnel {

class CVistaPTZComm : public CBasePTZComm {
public:
    CVistaPTZComm(unsigned short channel, IDriver* sink, const CPtzCapabilities& capabilities);
    ~CVistaPTZComm() override;

    void HandleWorkItem(CPTZItem* item) override;
    // Also ends a command the camera is slow to answer, so that the PTZ
    // thread sees the stop at once.
    bool Stop() override;
    // Without pan, tilt, zoom, focus and iris: false. With driver parameter 9
    // equal to 1 the camera is asked; otherwise true.
    bool IsPTZEnabled(IIPParams* params) override;

    bool SavePreposition(unsigned id, const std::string& name) override;
    bool GoToPreposition(unsigned id, const std::string& name, int value) override;

    // Whether the camera's PTZ configuration switches PTZ on for this channel.
    // A camera that cannot be reached counts as on.
    bool IsPtzEnabledOnDevice();
    void SendCommand(const std::string& query);

    // The camera's move speed (1 to 8) for a host speed of 1 and up.
    static unsigned ScaleSpeed(int speed);
    // The query part of an item; empty when nothing is to be sent (then, for
    // an unexpected item, `warning` holds the level-2 message).
    static std::string CommandQuery(const CPTZItem& item, std::string& warning);

private:
    // Counts one error; true when its message is to be written: the first 14,
    // then every 16th, 256th and 4096th, ever more rarely.
    bool ThrottleAllows();
    void LogResult(const CResultDef& result, bool throttled);
    bool SendPresetCommand(const char* key, unsigned id);

    const std::string commandUrl_;
    Web::CWinInetSender querySender_;
    Web::CWinInetSender commandSender_;
    std::atomic<uint32_t> errorLogCounter_{0};
};

}  // namespace dravnel
