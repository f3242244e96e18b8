#include "sim/device/DeviceIdentity.h"

#include <string_view>

namespace dravnel::sim {

struct DeviceIdentity::State {
    IdentityOptions options;
};

namespace {

WebPageReply Text(int status, std::string body) {
    WebPageReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

WebPageReply NotFound() { return Text(404, "404 Not Found\r\n"); }

bool Older(const IdentityOptions& o) { return o.profile == IdentityProfile::Older; }

// The internal code a current-firmware Group 2 device reports beside its
// customer model name.
std::string ModelCode(const IdentityOptions& o) { return "e" + o.model; }

}  // namespace

const char* IdentityProfileName(IdentityProfile profile) {
    switch (profile) {
    case IdentityProfile::Group1:
        return "group1";
    case IdentityProfile::Group2:
        return "group2";
    case IdentityProfile::Group3:
        return "group3";
    case IdentityProfile::Older:
        return "older";
    }
    return "";
}

DeviceIdentity::DeviceIdentity(WebServer& server, IdentityOptions options) : state_(std::make_shared<State>()) {
    state_->options = std::move(options);
    const auto get = [](const WebPageRequest& request) { return request.Param("app") == "get"; };
    server.SetPage("/video/ae_awb.php", [state = state_, get](const WebPageRequest& request) {
        if (!get(request)) return Text(200, "res=400");
        switch (state->options.profile) {
        case IdentityProfile::Group2:
            return Text(200, "res=200&ae_sensitivity=3&exposure_mode=auto&awb=auto");
        case IdentityProfile::Group3:
            return Text(200, "res=200&exposure_mode=auto&awb=auto");
        default:
            return NotFound();
        }
    });
    const auto inputs = [state = state_](bool older) {
        const IdentityOptions& o = state->options;
        if (Older(o) != older || o.alarmInputs == 0) return NotFound();
        if (o.profile == IdentityProfile::Group1)
            return Text(200, "res=200&alarm_in_count=" + std::to_string(o.alarmInputs));
        std::string body = "res=200";
        for (unsigned n = 1; n <= o.alarmInputs; ++n) body += "&alarm_in_" + std::to_string(n) + "_enable=0";
        return Text(200, body);
    };
    const auto outputs = [state = state_](bool older) {
        const IdentityOptions& o = state->options;
        if (Older(o) != older || o.alarmOutputs == 0) return NotFound();
        return Text(200, older ? "res=200&mandatory_out_enable=0" : "res=200&alarm_out_enable=0");
    };
    server.SetPage("/event/alarm_in.php", [inputs](const WebPageRequest&) { return inputs(false); });
    server.SetPage("/admin/alarm.html", [inputs](const WebPageRequest&) { return inputs(true); });
    server.SetPage("/event/alarm_out.php", [outputs](const WebPageRequest&) { return outputs(false); });
    server.SetPage("/admin/event.html", [outputs](const WebPageRequest&) { return outputs(true); });
}

const IdentityOptions& DeviceIdentity::Options() const { return state_->options; }

std::string DeviceIdentity::ConfigText(uint16_t httpPort, uint16_t rtspPort) const {
    const IdentityOptions& o = state_->options;
    const std::string standard = o.ntsc ? "NTSC" : "PAL";
    const std::string ports =
        "http_port=" + std::to_string(httpPort) + "\r\nrtsp_port=" + std::to_string(rtspPort) + "\r\n";
    if (Older(o)) {
        return "tool=Hitron-Tool\r\nmodel=" + o.model + "\r\nfirmware=" + o.firmware + "\r\ninput=" + standard +
               "\r\n" + ports;
    }
    std::string text;
    switch (o.profile) {
    case IdentityProfile::Group2:
        text = "tool=Hitron-Tool\r\nmodel_customer=" + o.model + "\r\nmodel=" + ModelCode(o) + "\r\n";
        break;
    case IdentityProfile::Group3:
        text = "customer=Vista\r\nmodel=" + o.model + "\r\n";
        break;
    default:
        text = "model=" + o.model + "\r\n";
        break;
    }
    std::string options = "MULTI_STREAM VMD AEAWB";
    if (o.alarmInputs != 0) options += " ALARM_IN";
    if (o.alarmOutputs != 0) options += " ALARM_OUT MANUAL_TRIGGER";
    if (o.ptz) options += " PTZ";
    text += "firmware=" + o.firmware + "\r\nmac=" + o.mac + "\r\ntv_mode=" + standard + "\r\n" + ports +
            "total_ch=" + std::to_string(o.channels) + "\r\nOPTIONS=" + options + "\r\n";
    return text;
}

}  // namespace dravnel::sim
