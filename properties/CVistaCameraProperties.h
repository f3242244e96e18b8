// Identification and probing of a Vista or Hitron device over its CGI pages.
//
//   "/system/user.php?app=get"   401: the credentials are refused
//   "/config.txt"                identity and OPTIONS of current firmware:
//       customer=Vista          model_customer=VK-C402   model=eSS540
//       firmware=2.1.4          mac=00:00:5E:00:53:01    tv_mode=NTSC
//       rtsp_port=554           total_ch=1
//       OPTIONS=ALARM_IN ALARM_OUT MANUAL_TRIGGER PTZ AEAWB MULTI_CODEC
//     or, older firmware without OPTIONS:
//       tool=Hitron-Tool        input=PAL                model=eSS540
//   "/video/video.php?app=get&ch=1&strm=1"
//       total_ch=1&total_strm=2&ch1_strm1_codec_list=H264|MJPEG
//       &ch1_strm1_fps_list=5|15|30&ch1_strm1_res_list=1920x1080|VGA
//       (or input_mode=1920x1080 and, on group 2, ch1_strm1_<size name>=1)
//   "/video/ae_awb.php?app=get"  ae_sensitivity: group 2; exposure_mode: group 3; 404: group 1
//   "/event/alarm_in.php", "/event/alarm_out.php" (older: "/admin/alarm.html",
//   "/admin/event.html"), "/device/ptz.php", each with "?app=get"
//
// A probe succeeds when its page was read, and also when the device answered
// it with any HTTP status (the feature is then absent); only silence fails it.
//
// Thread-safety: as CBaseCameraProperties. Cancel shuts the sender down from
// any thread: the request in progress ends at once and no later one is sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "properties/CBaseCameraProperties.h"
#include "ptz/CPtzCapabilities.h"
#include "web/CHttpSender.h"

namespace dravnel {

class CVistaCameraProperties : public CBaseCameraProperties {
public:
    CVistaCameraProperties(uint32_t videoStandard, const DEVICE_INFO& device);
    ~CVistaCameraProperties() override;

    void Cancel() override;
    bool WriteProperties(ipcapture::IHostCapabilityResults* sink) override;
    bool Query(uint32_t* reason) override;

    // The steps of Query, over text already read.
    bool ParseConfig(const std::string& text);
    bool ApplyLegacyDefaults(const std::string& text);
    bool ProbeVideo();

    // The brand name of an internal model code ("eSS540" -> "VK-C402" or
    // "HNCB-F1SN"); a code not in the table is its own name.
    static std::string MapModelName(const std::string& code, bool vista);

    uint32_t deviceGroup = 1;  // 1, 2 or 3; 0 for older firmware
    uint32_t rtspPort = 0;
    CPtzCapabilities ptz;
    std::string mac;
    std::string rawModel;
    bool multiCodec = false;
    bool hasDevicePtzOptions = false;

protected:
    // GET of a page with a non-empty 200 body; fails at once when stopped.
    virtual bool RequestGet(const std::string& path, std::string& text);
    // HTTP status of the last answer, 0 when there was none.
    virtual uint32_t LastStatus() const { return sender_.StatusCode(); }

private:
    bool CheckCredentials(uint32_t* reason);
    bool ParseIdentity(const std::string& text);
    bool ParseOptions(const std::string& text);
    bool ProbeResult(bool pageRead) const;
    bool ProbeAlarmInputs(bool current);
    bool ProbeAlarmOutputs(bool current);
    bool ProbeExposure();
    bool ProbePtz(uint32_t channels);
    bool ProbeSizes(const std::string& page);
    bool ParseSystemInfo(const std::string& text);

    Web::CHttpSender sender_;
};

}  // namespace dravnel
