#include "channel/CH264ChannelRTSP.h"

namespace dravnel {

CH264ChannelRTSP::CH264ChannelRTSP(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : CCommonChannelRTSP(channel, driver, hostSink), parser_(driver, driver->GetDriverName()) {
    parser_.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() {
    // The session threads drive the parser: end them before it goes.
    Stop();
    CH264ChannelRTSP::StopStreaming();
}

void CH264ChannelRTSP::OnSessionDescription(const CodecConfig* config) {
    if (config && !config->sps.empty() && !config->pps.empty()) parser_.SetCodecConfig(config);
}

void CH264ChannelRTSP::StopStreaming() {
    CCommonChannelRTSP::StopStreaming();
    // No thread drives the parser now; the next session starts clean.
    parser_.Reset();
}

}  // namespace dravnel
