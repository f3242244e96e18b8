// The bodies of the six capability-query exports. CreateCapabilityQueryModule
// and DeleteCapabilityQueryModule hand the host modules of its own; the
// Init/Start/Terminate/Uninit family works on one module of the library's.
//
// Thread-safety: every function may be called from any thread; the library's
// module is guarded by a mutex, which is never held while a module is
// destroyed (destruction waits for the module's query thread).
#pragma once

#include <cstdint>

#include "quarnel/CapabilityQuery.h"

namespace dravnel::capability {

ipcapture::IIPCapabilityQuery* CreateModule(ipcapture::IHostCapabilitySink* sink, int ntsc);
void DeleteModule(ipcapture::IIPCapabilityQuery* module);
int Init(ipcapture::IHostCapabilitySink* sink, int ntsc);
int Start(const char* address, uint16_t port, const char* userName, const char* password,
          ipcapture::IHostCapabilityResults* results);
int Terminate();
int Uninit();

}  // namespace dravnel::capability
