// The C functions a host finds in the library.
#include <new>

#include "driver/CQuarnelDriver.h"
#include "properties/CapabilityQueryExports.h"
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

dravnel::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(dravnel::ipcapture::IHostCapabilitySink* sink,
                                                                    int ntsc) {
    return dravnel::capability::CreateModule(sink, ntsc);
}
void DeleteCapabilityQueryModule(dravnel::ipcapture::IIPCapabilityQuery* module) {
    dravnel::capability::DeleteModule(module);
}
int InitCapabilityQuery(dravnel::ipcapture::IHostCapabilitySink* sink, int ntsc) {
    return dravnel::capability::Init(sink, ntsc);
}
int StartCapabilityQuery(const char* address, uint16_t port, const char* userName, const char* password,
                         dravnel::ipcapture::IHostCapabilityResults* results) {
    return dravnel::capability::Start(address, port, userName, password, results);
}
int TerminateCapabilityQuery() { return dravnel::capability::Terminate(); }
int UninitCapabilityQuery() { return dravnel::capability::Uninit(); }

}  // extern "C"
