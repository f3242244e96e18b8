#include "channel/CMJPEGChannelRTSP.h"

#include <algorithm>

#include "channel/CStreamChanges.h"
#include "channel/StreamValues.h"
#include "web/HUtils.h"

namespace dravnel {

namespace {
constexpr const char* kTerminators = "&\r\n";
constexpr unsigned kStream = 2;
constexpr uint32_t kMaxQuality = 99;
}  // namespace

CMJPEGChannelRTSP::CMJPEGChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CCommonChannelRTSP(channel, driver, hostSink), parser_(driver, driver->GetDriverName()) {
    parser_.SetClient(this);
}

CMJPEGChannelRTSP::~CMJPEGChannelRTSP() {
    // The session threads drive the parser: end them before it goes.
    Stop();
    CMJPEGChannelRTSP::StopStreaming();
}

void CMJPEGChannelRTSP::StopStreaming() {
    CCommonChannelRTSP::StopStreaming();
    parser_.Reset();
}

std::string CMJPEGChannelRTSP::BuildStreamPath() {
    return HUtils::Format("/%u/stream%u", ChannelNumber() + 1, IsModelB() ? 1u : 2u);
}

bool CMJPEGChannelRTSP::OnFrame(ipcapture::IHostFrame* frame) {
    if (IsModelB() && frame && frame->GetWidth() != GetParams().Width) {
        SetChannelState(2);
        return false;
    }
    return CCommonChannelRTSP::OnFrame(frame);
}

bool CMJPEGChannelRTSP::SetHitronStreamParameters() {
    const unsigned channel = ChannelNumber() + 1;
    std::string reply;
    if (!RequestGet(HUtils::Format("/video/video.php?app=get&ch=%u", channel), reply, true)) return false;

    const ChannelParams params = GetParams();
    const std::string prefix = Prefix(kStream);
    CStreamChanges changes(DescribeConfiguration(reply));
    changes.Change(prefix + "codec", "JPEG");
    // A size without a name cannot be asked for: the device keeps its own.
    changes.Change(prefix + "res", HUtils::ToUpper(resolutionHelper_.GetName(params.Width, params.Height)));
    if (params.ModeWord != 0)
        changes.Change(prefix + "quality", std::to_string(std::min<uint32_t>(params.ModeWord, kMaxQuality)));
    changes.Change(prefix + "fps",
                   std::to_string(DeviceFrameRate(reply, prefix, ChannelFrameRate(params.FrameInterval))));
    if (changes.Empty()) return true;
    std::string answer;
    return RequestGet(HUtils::Format("/video/video.php?app=set&ch=%u", channel) + changes.List(), answer, false);
}

bool CMJPEGChannelRTSP::SetHitronStreamParameters_ModelB() {
    const unsigned channel = ChannelNumber() + 1;
    const std::string getPath = HUtils::Format("/video/video.php?app=get&ch=%u&strm=2", channel);
    const ChannelParams params = GetParams();
    const std::string prefix = Prefix(kStream);

    std::string reply;
    if (!RequestGet(getPath, reply, true)) return false;
    // The second stream is scaled from the first: a size the first does not
    // make free is first set there.
    const std::string name = resolutionHelper_.GetName(params.Width, params.Height);
    if (HUtils::GetValue(reply, prefix + name, "=", kTerminators) != "1") {
        if (!UpdateMainStreamConfiguration_ModelB("H264BP", false)) return false;
        if (!RequestGet(getPath, reply, true)) return false;
    }

    CStreamChanges changes(reply);
    changes.Change(prefix + "en", "1");
    changes.Change(prefix + "codec", "MJPEG");
    changes.Change(prefix + "res", HUtils::Format("%ux%u", params.Width, params.Height));
    changes.Change(prefix + "bitrate", BitrateForQuality(HUtils::GetValue(reply, prefix + "maxbr", "=", kTerminators)));
    changes.Change(prefix + "fps",
                   std::to_string(DeviceFrameRate(reply, prefix, ChannelFrameRate(params.FrameInterval), false)));
    if (changes.Empty()) return true;
    std::string answer;
    return RequestGet(HUtils::Format("/video/video.php?app=set&ch=%u&strm=2", channel) + changes.List(), answer, false);
}

}  // namespace dravnel
