// The Vista/Hitron driver object: the driver base with this family's time-outs
// and its required video-standard parameter.
//
// Thread-safety: as CIPCaptureDriver.
#pragma once

#include "driver/CIPCaptureDriver.h"

namespace dravnel {

class CQuarnelDriver : public CIPCaptureDriver {
public:
    bool Open(ipcapture::IHostDebugSink* sink, ipcapture::IHostFrameAllocator* hostContext,
              ipcapture::IHostDeviceDescription* description) override;
};

}  // namespace dravnel
