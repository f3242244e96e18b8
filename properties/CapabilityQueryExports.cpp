#include "properties/CapabilityQueryExports.h"

#include <mutex>
#include <new>

#include "properties/CCapabilityQueryModule.h"

namespace dravnel::capability {
namespace {

std::mutex globalMutex;
ipcapture::IIPCapabilityQuery* globalModule = nullptr;

}  // namespace

ipcapture::IIPCapabilityQuery* CreateModule(ipcapture::IHostCapabilitySink* sink, int ntsc) {
    try {
        return new CVistaCapabilityQueryModule(sink, ntsc != 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void DeleteModule(ipcapture::IIPCapabilityQuery* module) { delete module; }

int Init(ipcapture::IHostCapabilitySink* sink, int ntsc) {
    std::lock_guard<std::mutex> guard(globalMutex);
    if (globalModule) return 0;
    globalModule = CreateModule(sink, ntsc);
    return globalModule ? 1 : 0;
}

int Start(const char* address, uint16_t port, const char* userName, const char* password,
          ipcapture::IHostCapabilityResults* results) {
    if (!address || !userName || !password) return 0;
    std::lock_guard<std::mutex> guard(globalMutex);
    if (!globalModule) return 0;
    return globalModule->Start(address, port, userName, password, results) ? 1 : 0;
}

int Terminate() {
    std::lock_guard<std::mutex> guard(globalMutex);
    if (globalModule) globalModule->Terminate();
    return 1;
}

int Uninit() {
    ipcapture::IIPCapabilityQuery* module = nullptr;
    {
        std::lock_guard<std::mutex> guard(globalMutex);
        module = globalModule;
        globalModule = nullptr;
    }
    delete module;
    return 1;
}

}  // namespace dravnel::capability
