// The functions the library exports, and the one the host exports to it.
#pragma once

#include <cstdint>

#include "quarnel/CapabilityQuery.h"
#include "quarnel/CaptureDriver.h"

// On Windows the library's .def file names the exports, and a host that
// offers the version function exports it from its executable.
#if defined(_WIN32)
#define QUARNEL_EXPORT
#define QUARNEL_HOST_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define QUARNEL_EXPORT __attribute__((visibility("default")))
#define QUARNEL_HOST_EXPORT __attribute__((visibility("default")))
#else
#define QUARNEL_EXPORT
#define QUARNEL_HOST_EXPORT
#endif

extern "C" {

// A new driver object (its dynamic type also implements IIPCaptureDriverEx3);
// destroy it with DeleteIPCapture. Null only when memory runs out.
QUARNEL_EXPORT dravnel::ipcapture::IIPCaptureDriver* CreateIPCapture();
QUARNEL_EXPORT dravnel::ipcapture::IIPCaptureDriver* CreateIPCaptureEx();
QUARNEL_EXPORT void DeleteIPCapture(dravnel::ipcapture::IIPCaptureDriver* driver);
QUARNEL_EXPORT void DeleteIPCaptureEx(dravnel::ipcapture::IIPCaptureDriver* driver);

// A capability query module reporting to `sink` (ntsc non-zero: the host's
// video standard is NTSC); destroy it with DeleteCapabilityQueryModule, which
// waits for a running query to end.
QUARNEL_EXPORT dravnel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    dravnel::ipcapture::IHostCapabilitySink* sink, int ntsc);
QUARNEL_EXPORT void DeleteCapabilityQueryModule(dravnel::ipcapture::IIPCapabilityQuery* module);
// The same query through one module the library keeps: Init creates it (0 when
// one exists), Start runs a query (0 when it cannot start), Terminate ends it
// promptly, Uninit destroys it. Non-zero means success.
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
