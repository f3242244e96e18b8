// The C functions a host finds in the library.
#include <new>

#include "driver/CQuarnelDriver.h"
#include "quarnel/Exports.h"

using dravnel::ipcapture::IIPCaptureDriver;

extern "C" {

IIPCaptureDriver* CreateIPCapture() {
    // The host's pointer is the IIPCaptureDriverEx3 base, the start of the object.
    return static_cast<dravnel::ipcapture::IIPCaptureDriverEx3*>(new (std::nothrow) dravnel::CQuarnelDriver());
}

IIPCaptureDriver* CreateIPCaptureEx() { return CreateIPCapture(); }

void DeleteIPCapture(IIPCaptureDriver* driver) { delete driver; }

void DeleteIPCaptureEx(IIPCaptureDriver* driver) { DeleteIPCapture(driver); }

// The capability query refuses every call until device probing exists.
dravnel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(dravnel::ipcapture::IHostCapabilitySink*,
                                                                     int) {
    return nullptr;
}
void DeleteCapabilityQueryModule(dravnel::ipcapture::IIPCapabilityQuery* module) { delete module; }
int InitCapabilityQuery(dravnel::ipcapture::IHostCapabilitySink*, int) { return 0; }
int StartCapabilityQuery(const char*, uint16_t, const char*, const char*,
                         dravnel::ipcapture::IHostCapabilityResults*) {
    return 0;
}
int TerminateCapabilityQuery() { return 0; }
int UninitCapabilityQuery() { return 0; }

}  // extern "C"
