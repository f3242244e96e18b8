// Who the simulated camera says it is: its "/config.txt" and the pages the
// capability query reads to tell the device's generation and features.
//
//   profile  "/config.txt"                                   "/video/ae_awb.php"   alarm pages
//   Group1   model, firmware, mac, tv_mode, OPTIONS          404                   "/event/alarm_in.php":
//   alarm_in_count Group2   tool=Hitron-Tool, model_customer, model (code)  ae_sensitivity "/event/alarm_in.php":
//   alarm_in_N_enable Group3   customer=Vista, model, ...                      exposure_mode only
//   "/event/alarm_in.php": alarm_in_N_enable Older    tool, input=PAL|NTSC, model (code), no OPTIONS  404
//   "/admin/alarm.html", "/admin/event.html"
//
// Current firmware lists ALARM_IN with inputs, ALARM_OUT and MANUAL_TRIGGER
// with an output, PTZ with PTZ, and always MULTI_STREAM, VMD and AEAWB; its
// "/event/alarm_out.php" reports alarm_out_enable when there is an output.
// Older firmware reports mandatory_out_enable on "/admin/event.html" instead.
// A page of the other generation answers 404.
//
// Thread-safety: the pages share the identity's state (set at construction,
// ports afterwards) and outlive this object; the setters may be called from
// any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/web/WebServer.h"

namespace dravnel::sim {

enum class IdentityProfile { Group1, Group2, Group3, Older };

struct IdentityOptions {
    IdentityProfile profile = IdentityProfile::Group1;
    std::string model = "QSIM-100";  // older firmware: the model code, e.g. "eSS540"
    std::string firmware = "1.0.0";
    std::string mac = "00:00:5E:00:53:01";
    bool ntsc = false;
    unsigned channels = 1;
    unsigned alarmInputs = 0;
    unsigned alarmOutputs = 0;  // 0 or 1
    bool ptz = false;
};

class DeviceIdentity {
public:
    DeviceIdentity(WebServer& server, IdentityOptions options);

    // "/config.txt" for a camera on these ports.
    std::string ConfigText(uint16_t httpPort, uint16_t rtspPort) const;
    const IdentityOptions& Options() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

const char* IdentityProfileName(IdentityProfile profile);

}  // namespace dravnel::sim
