#include "channel/CMPEG4ChannelRTSP.h"

namespace dravnel {

CMPEG4ChannelRTSP::CMPEG4ChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CCommonChannelRTSP(channel, driver, hostSink), parser_(driver, driver->GetDriverName()) {
    parser_.SetClient(this);
}

CMPEG4ChannelRTSP::~CMPEG4ChannelRTSP() {
    // The session threads drive the parser: end them before it goes.
    Stop();
    CMPEG4ChannelRTSP::StopStreaming();
}

void CMPEG4ChannelRTSP::OnSessionDescription(const CodecConfig* config) {
    if (config && !config->config.empty()) parser_.SetCodecConfig(config);
}

void CMPEG4ChannelRTSP::StopStreaming() {
    CCommonChannelRTSP::StopStreaming();
    parser_.Reset();
}

bool CMPEG4ChannelRTSP::SetHitronStreamParameters_ModelB() {
    Driver()->DebugMessage(kLevelWarning, "%s: Model_B devices %s doesn't support MPEG-4 encoding",
                           "dravnel::CMPEG4ChannelRTSP::SetHitronStreamParameters_ModelB",
                           Driver()->GetAddressText().c_str());
    return false;
}

}  // namespace dravnel
