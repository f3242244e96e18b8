// The functions the library exports, and the one the host exports to it.
#pragma once

#include <cstdint>

#include "quarnel/CapabilityQuery.h"
#include "quarnel/CaptureDriver.h"

#if defined(__GNUC__)
#define QUARNEL_EXPORT __attribute__((visibility("default")))
#else
#define QUARNEL_EXPORT
#endif

extern "C" {

QUARNEL_EXPORT dravnel::ipcapture::IIPCaptureDriver* CreateIPCapture();
QUARNEL_EXPORT dravnel::ipcapture::IIPCaptureDriver* CreateIPCaptureEx();
QUARNEL_EXPORT void DeleteIPCapture(dravnel::ipcapture::IIPCaptureDriver* driver);
QUARNEL_EXPORT void DeleteIPCaptureEx(dravnel::ipcapture::IIPCaptureDriver* driver);

QUARNEL_EXPORT dravnel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    dravnel::ipcapture::IHostCapabilitySink* sink, int ntsc);
QUARNEL_EXPORT void DeleteCapabilityQueryModule(dravnel::ipcapture::IIPCapabilityQuery* module);
QUARNEL_EXPORT int InitCapabilityQuery(dravnel::ipcapture::IHostCapabilitySink* sink, int ntsc);
QUARNEL_EXPORT int StartCapabilityQuery(const char* address, uint16_t port, const char* userName, const char* password,
                                        dravnel::ipcapture::IHostCapabilityResults* results);
QUARNEL_EXPORT int TerminateCapabilityQuery();
QUARNEL_EXPORT int UninitCapabilityQuery();

// Exported by the host process (not by this library): the product version of
// the host's core module as major, minor, build, revision. Returns non-zero on
// success. When the process does not export it the driver assumes 5.12.0.0.
int QuarnelHostProductVersion(uint16_t version[4]);

}  // extern "C"

// Names as the library exports them, for dlsym.
#define QUARNEL_HOST_VERSION_SYMBOL "QuarnelHostProductVersion"
