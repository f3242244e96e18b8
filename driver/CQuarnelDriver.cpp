#include "driver/CQuarnelDriver.h"

namespace dravnel {

bool CQuarnelDriver::Open(ipcapture::IHostDebugSink* sink, ipcapture::IHostFrameAllocator* hostContext,
                          ipcapture::IHostDeviceDescription* description) {
    device_.HttpTimeout = 5000;
    device_.StreamTimeout = 10000;
    if (!CIPCaptureDriver::Open(sink, hostContext, description)) return false;
    // Parameter 2 is the device's video standard (non-zero for NTSC); a device
    // added without it was never probed and cannot be configured.
    const int standard = GetParameterInt(2);
    if (standard == kNoIntParameter) return false;
    parameterFlag_ = standard != 0;
    LogDriverOpened(GetParameterText(6));
    return true;
}

}  // namespace dravnel
