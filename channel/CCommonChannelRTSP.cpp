#include "channel/CCommonChannelRTSP.h"

#include <vector>

#include "channel/CStreamChanges.h"
#include "channel/StreamValues.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace dravnel {

namespace {
constexpr const char* kTerminators = "&\r\n";
constexpr const char* kRequestGet = "dravnel::CCommonChannelRTSP::RequestGet";
}  // namespace

CCommonChannelRTSP::CCommonChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CBaseRTSPChannel(channel, driver, hostSink),
      sender_(*driver->GetDeviceInfo()),
      deviceKind_(driver->GetParameterInt(4)),
      resolutionHelper_(driver->GetParameterFlag(), deviceKind_ != 1) {}

CCommonChannelRTSP::~CCommonChannelRTSP() { Stop(); }

void CCommonChannelRTSP::OnStopThread() { sender_.CloseRequest(); }

std::string CCommonChannelRTSP::Prefix(unsigned stream) const { return StreamPrefix(ChannelNumber(), stream); }

bool CCommonChannelRTSP::PrepareStream() {
    requestFailure_.clear();
    const DeviceSettings settings = ReadDeviceSettings(Driver());
    RTPMode = settings.RTPMode;
    RTPPacketSize = settings.RTPPacketSize;
    SetRTPReceiveBuffer(settings.RTPReceiveBuffer);

    bool ok;
    if (deviceKind_ == 1 || deviceKind_ == 3)
        ok = SetHitronStreamParameters();
    else if (deviceKind_ == 2)
        ok = SetHitronStreamParameters_ModelB();
    else
        return false;

    if (ok && rtspPort_ == 0) {
        std::string text;
        ok = RequestGet("/system/network.php?app=get", text, false);
        if (ok) rtspPort_ = HUtils::ParseDecimal16(HUtils::GetValue(text, "rtsp_port", "=", kTerminators));
    }
    return ok;
}

void CCommonChannelRTSP::PrepareRTSPSettings(RTSPConnectionSettings& settings) {
    settings.media = MediaKind::Video;
    settings.streamPath = BuildStreamPath();
    if (rtspPort_ != 0) settings.serverPort = rtspPort_;
}

std::string CCommonChannelRTSP::BuildStreamPath() {
    return HUtils::Format("/%u/stream%u", ChannelNumber() + 1, IsModelB() ? 0u : 1u);
}

void CCommonChannelRTSP::LogThrottled(const CResultDef& result) {
    if (!logThrottle_.Advance()) return;
    if (result.message.empty() || result.level == kLevelNever) return;
    Driver()->DebugMessage(static_cast<int>(result.level), "%s", result.message.c_str());
}

bool CCommonChannelRTSP::RequestGet(const std::string& path, std::string& text, bool lenient) {
    text.clear();
    if (StopRequested() || path.empty()) return false;

    std::vector<uint8_t> reply;
    CResultDef result = HUtils::RequestGetRD(path, reply, sender_, true);
    const uint32_t status = sender_.StatusCode();
    if (status == 401)
        requestFailure_ = "login refused (HTTP 401)";
    else if (result.code == CResultDef::kNotSent)
        requestFailure_ = HUtils::Format("the device is unreachable or refuses the connection (HTTP port %u)",
                                         static_cast<unsigned>(Driver()->GetDeviceInfo()->Port));
    else if (!result.Succeeded())
        requestFailure_ = HUtils::Format("its web page answered status %u", status);
    if (result.Succeeded() && sender_.ReplyCut()) {
        // What came is read as the page; the device is told of once per throttle step.
        LogThrottled(
            CResultDef(kLevelWarning, CResultDef::kSuccess,
                       HUtils::Format("%s: Device %s sent a reply to \"%s\" that did not end within %u ms or %u bytes; "
                                      "reading the %u bytes that came",
                                      kRequestGet, Driver()->GetAddressText().c_str(), path.c_str(),
                                      static_cast<unsigned>(Driver()->GetDeviceInfo()->HttpTimeout),
                                      static_cast<unsigned>(Web::CBaseHttpSender::kMaxBody),
                                      static_cast<unsigned>(reply.size()))));
    }
    if (result.Succeeded()) {
        if (reply.empty()) {
            if (lenient) return true;
            result = CResultDef(kLevelInfo, CResultDef::kBadResult, "");
        } else {
            text.assign(reply.begin(), reply.end());
            const std::string res = HUtils::GetValue(text, "res", "=", kTerminators);
            if (res == "200" || (res.empty() && lenient)) return true;
            requestFailure_ = "the device refused the stream settings (result code " + res + ")";
            result =
                CResultDef(kLevelError, CResultDef::kBadResult,
                           HUtils::Format("%s: Device %s unable to process request \"%s\", result code = %s",
                                          kRequestGet, Driver()->GetAddressText().c_str(), path.c_str(), res.c_str()));
        }
    }
    LogThrottled(result);
    text.clear();
    return false;
}

std::string CCommonChannelRTSP::NoVideoReason(NoVideoStage stage) {
    if (stage == NoVideoStage::Prepare && !requestFailure_.empty()) return requestFailure_;
    return CBaseRTSPChannel::NoVideoReason(stage);
}

std::string CCommonChannelRTSP::BitrateForQuality(const std::string& maxbr) {
    const ChannelParams params = GetParams();
    return dravnel::BitrateForQuality(maxbr, params.Width, params.ModeWord);
}

bool CCommonChannelRTSP::UpdateMainStreamConfiguration(const std::string& codec) {
    const unsigned channel = ChannelNumber() + 1;
    std::string reply;
    if (!RequestGet(HUtils::Format("/video/video.php?app=get&ch=%u", channel), reply, true)) return false;

    const ChannelParams params = GetParams();
    const std::string prefix = Prefix(1);
    // Entries holding "max" or a list never count as reported values.
    CStreamChanges changes(DescribeConfiguration(reply));
    changes.Change(prefix + "codec", codec);

    const std::string name = resolutionHelper_.GetName(params.Width, params.Height);
    if (name.empty()) {
        // The device names its sizes; one it has no name for cannot be asked
        // for, so the device keeps its own rather than refusing an empty one.
        if (!unnamedSizeLogged_) {
            unnamedSizeLogged_ = true;
            Driver()->DebugMessage(kLevelWarning,
                                   "%s: Device %s has no resolution for %ux%u; its resolution is left unchanged",
                                   "dravnel::CCommonChannelRTSP::UpdateMainStreamConfiguration",
                                   Driver()->GetAddressText().c_str(), params.Width, params.Height);
        }
    } else {
        changes.Change(prefix + "res", HUtils::ToUpper(name));
    }
    changes.Change(prefix + "bitrate", BitrateForQuality(HUtils::GetValue(reply, prefix + "maxbr", "=", kTerminators)));
    changes.Change(prefix + "ratecontrol", "cbr");
    if (params.FrameInterval != 0) {
        const std::string rate = std::to_string(DeviceFrameRate(reply, prefix, ChannelFrameRate(params.FrameInterval)));
        changes.Change(prefix + "fps", rate);
        changes.Change(prefix + "gov", rate);
    }
    if (changes.Empty()) return true;
    std::string answer;
    return RequestGet(HUtils::Format("/video/video.php?app=set&ch=%u", channel) + changes.List(), answer, false);
}

bool CCommonChannelRTSP::UpdateMainStreamConfiguration_ModelB(const std::string& codec, bool full) {
    const unsigned channel = ChannelNumber() + 1;
    const std::string getPath = HUtils::Format("/video/video.php?app=get&ch=%u&strm=1", channel);
    const std::string setPath = HUtils::Format("/video/video.php?app=set&ch=%u&strm=1", channel);
    const std::string prefix = Prefix(1);
    const ChannelParams params = GetParams();

    std::string reply;
    if (!RequestGet(getPath, reply, true)) return false;
    if (HUtils::GetValue(reply, prefix + "codec", "=", kTerminators).empty()) {
        LogThrottled(CResultDef(
            kLevelError, CResultDef::kBadResult,
            HUtils::Format("%s: Unable to process video configuration of device %s. Current configuration: %s",
                           "dravnel::CCommonChannelRTSP::UpdateMainStreamConfiguration_ModelB",
                           Driver()->GetAddressText().c_str(), DescribeConfiguration(reply).c_str())));
        return false;
    }

    std::string answer;
    CStreamChanges first(reply);
    first.Change(prefix + "codec", codec);
    first.Change(prefix + "res", HUtils::Format("%ux%u", params.Width, params.Height));
    first.Change(prefix + "ratecontrol", "cbr");
    if (!first.Empty()) {
        rtspPort_ = 0;  // a reconfigured device is asked for its port again
        if (!RequestGet(setPath + first.List(), answer, false)) return false;
    }
    if (!full) return true;

    if (!RequestGet(getPath, reply, true)) return false;
    CStreamChanges second(reply);
    const std::string govStruct = HUtils::GetValue(reply, prefix + "gov_struct", "=", kTerminators);
    if (!govStruct.empty() && govStruct != "1") {
        second.Append(prefix + "gop_struct", "1");
        second.Append(prefix + "gov_struct", "1");
    }
    if (params.FrameInterval != 0) {
        const std::string rate =
            std::to_string(DeviceFrameRate(reply, prefix, ChannelFrameRate(params.FrameInterval), false));
        second.Change(prefix + "fps", rate);
        second.Change(prefix + "gov", rate);
    }
    second.Change(prefix + "bitrate", BitrateForQuality(HUtils::GetValue(reply, prefix + "maxbr", "=", kTerminators)));
    if (second.Empty()) return true;
    rtspPort_ = 0;
    return RequestGet(setPath + second.List(), answer, false);
}

}  // namespace dravnel
