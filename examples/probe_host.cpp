// probe_host: what a recorder does before and after it adds a device. It asks
// the driver what the device is (the capability query), keeps the nine
// properties the query writes as the device's driver parameters, opens the
// device with them and, on a PTZ camera, pans right for a moment and stops.
//
//   probe_host ADDRESS PORT USER PASSWORD [LIBRARY]
//
// The query runs on the driver's own thread and reports to the host's sink
// exactly once: completed, failed (with a reason and a message) or terminated.
// The results object must stay alive until that report has arrived.
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quarnel/Quarnel.h"

using namespace dravnel;
using namespace dravnel::ipcapture;

namespace {

// The sink hears how the query ended, on the query's thread.
class QuerySink : public IHostCapabilitySink {
public:
    void OnQueryCompleted() override { Finish(0, "completed"); }
    void OnQueryFailed(uint32_t reason, const char* message) override { Finish(reason, message ? message : ""); }
    void OnQueryTerminated() override { Finish(~0u, "terminated"); }

    // False when no report came within the bound.
    bool Wait(std::chrono::seconds bound, uint32_t& reason, std::string& message) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, bound, [&] { return done_; })) return false;
        reason = reason_;
        message = message_;
        return true;
    }

private:
    void Finish(uint32_t reason, std::string message) {
        std::lock_guard<std::mutex> lock(mutex_);
        reason_ = reason;
        message_ = std::move(message);
        done_ = true;
        cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    uint32_t reason_ = 0;
    std::string message_;
};

// One named property; the order of creation is the order of the driver
// parameters the host hands back to Open.
class Property : public IHostPropertyEntry {
public:
    void SetValue(const char* text) override { value = text ? text : ""; }
    void SetAttributeB(uint32_t) override {}
    void SetName(const char* text) override { name = text ? text : ""; }
    void SetAttributeA(uint32_t) override {}
    std::string name, value;
};

class TextField : public IHostTextField {
public:
    void SetText(const char*) override {}
};

class Resolutions : public IHostResolutionList {
public:
    void Add(const char* text, uint16_t width, uint16_t height, uint32_t) override {
        sizes.push_back(std::string(text ? text : "") + " " + std::to_string(width) + "x" + std::to_string(height));
    }
    std::vector<std::string> sizes;
};

class FrameRates : public IHostFrameRateList {
public:
    void SetDefaultRate(uint32_t) override {}
    void AddRate(uint32_t) override {}
};

// The results object: the query writes into it from its thread, before it
// reports to the sink.
class Results : public IHostCapabilityResults {
public:
    void SetCapability(uint32_t, uint32_t) override {}
    void SetDeviceName(const char* name) override { device = name ? name : ""; }
    IHostTextField* GetConnectionField(uint32_t) override { return &field_; }
    IHostPropertyEntry* CreateProperty(uint32_t) override {
        properties.push_back(std::make_unique<Property>());
        return properties.back().get();
    }
    IHostResolutionList* GetResolutionList() override { return &resolutions; }
    IHostFrameRateList* GetFrameRateList(uint32_t) override { return &rates_; }

    std::string device;
    std::vector<std::unique_ptr<Property>> properties;
    Resolutions resolutions;

private:
    TextField field_;
    FrameRates rates_;
};

class DebugSink : public IHostDebugSink {
public:
    void OnDebugInfo(const CDebugInfoIf* info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "[%u] %s\n", static_cast<unsigned>(info->GetLevel()),
                     info->GetText() ? info->GetText() : "");
    }

private:
    std::mutex mutex_;
};

class NoFrames : public IHostFrameAllocator {
public:
    IHostFrame* AllocateFrame(uint32_t, uint32_t, const char*) override { return nullptr; }
    void ReleaseFrame(IHostFrame*) override {}
};

// The device as the recorder keeps it after the query: the nine properties
// come back as driver parameters 1..9.
class Device : public IHostDeviceDescription, IHostDeviceRecord, IHostConnectionRecord {
public:
    Device(const char* address, uint16_t port, const char* user, const char* password,
           std::vector<std::string> parameters)
        : address_(address), port_(port), user_(user), password_(password), parameters_(std::move(parameters)) {}
    IHostDeviceRecord* GetDevice() override { return this; }
    IHostConnectionRecord* GetConnection() override { return this; }
    const char* GetParameter(int n) override {
        return n >= 1 && static_cast<size_t>(n) <= parameters_.size() ? parameters_[n - 1].c_str() : nullptr;
    }
    const char* GetAddress() override { return address_.c_str(); }
    uint16_t GetPort() override { return port_; }
    int GetCodec() override { return 3; }
    const char* GetUserName() override { return user_.c_str(); }
    const char* GetPassword() override { return password_.c_str(); }
    const char* GetModel() override { return "probe_host"; }
    uint32_t GetChannelCount() override { return 1; }
    uint32_t GetAlarmInputCount() override { return 0; }
    uint32_t GetAlarmOutputCount() override { return 0; }

private:
    std::string address_;
    uint16_t port_;
    std::string user_, password_;
    std::vector<std::string> parameters_;
};

template <typename F>
F Find(void* handle, const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: probe_host ADDRESS PORT USER PASSWORD [LIBRARY]\n");
        return 2;
    }
    const std::string library = argc > 5 ? argv[5] : std::string(QUARNEL_LIBRARY_DIR) + "/" + QUARNEL_LIBRARY_SONAME;
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "probe_host: cannot load %s: %s\n", library.c_str(), dlerror());
        return 1;
    }
    auto createQuery = Find<decltype(&CreateCapabilityQueryModule)>(handle, "CreateCapabilityQueryModule");
    auto deleteQuery = Find<decltype(&DeleteCapabilityQueryModule)>(handle, "DeleteCapabilityQueryModule");
    auto createDriver = Find<decltype(&CreateIPCaptureEx)>(handle, "CreateIPCaptureEx");
    auto deleteDriver = Find<decltype(&DeleteIPCaptureEx)>(handle, "DeleteIPCaptureEx");
    if (!createQuery || !deleteQuery || !createDriver || !deleteDriver) {
        std::fprintf(stderr, "probe_host: %s is not a Quarnel driver\n", library.c_str());
        return 1;
    }
    const uint16_t port = static_cast<uint16_t>(std::atoi(argv[2]));

    // 1. The capability query. The module is the host's to delete; deleting it
    //    waits for its thread.
    QuerySink sink;
    Results results;
    IIPCapabilityQuery* query = createQuery(&sink, /*ntsc=*/0);
    if (!query || !query->Start(argv[1], port, argv[3], argv[4], &results)) {
        std::fprintf(stderr, "probe_host: the capability query could not be started\n");
        if (query) deleteQuery(query);
        return 1;
    }
    uint32_t reason = 0;
    std::string message;
    if (!sink.Wait(std::chrono::seconds(60), reason, message)) {
        query->Terminate();  // the request in progress is aborted; the sink still hears once
        sink.Wait(std::chrono::seconds(10), reason, message);
        message = "no answer within 60 s";
        reason = ~0u;
    }
    deleteQuery(query);
    if (reason != 0) {
        std::fprintf(stderr, "probe_host: the query failed: %s\n", message.c_str());
        return 1;
    }
    std::printf("device: %s\n", results.device.c_str());
    std::vector<std::string> parameters;
    std::string ptz;
    for (const auto& property : results.properties) {
        std::printf("  %-24s %s\n", property->name.c_str(), property->value.c_str());
        parameters.push_back(property->value);
        if (property->name == "PTZ Capabilities") ptz = property->value;
    }
    for (const auto& size : results.resolutions.sizes) std::printf("  size %s\n", size.c_str());

    // 2. The device opened with what the query found, and one PTZ move.
    if (ptz.find("Pan=1") == std::string::npos) {
        std::printf("no pan: no PTZ move\n");
        return 0;
    }
    DebugSink debug;
    NoFrames frames;
    Device device(argv[1], port, argv[3], argv[4], parameters);
    auto* driver = static_cast<IIPCaptureDriverEx3*>(createDriver());
    int status = 1;
    if (driver && driver->Open(&debug, &frames, &device)) {
        IIPPTZDriverEx* ptzDriver = driver->GetPTZDriverEx();
        IIPPTZApiEx* control = ptzDriver ? ptzDriver->GetPTZApiEx(0) : nullptr;
        if (control) {
            // Each call only queues the command: the driver sends it from the
            // channel's PTZ thread.
            const int move = control->Move(kPtzRight, 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const int stop = control->Stop();
            std::printf("PTZ: move right %s, stop %s\n", move == PTZ_OK ? "queued" : "refused",
                        stop == PTZ_OK ? "queued" : "refused");
            status = move == PTZ_OK && stop == PTZ_OK ? 0 : 1;
        }
        driver->Close();
    }
    if (driver) deleteDriver(driver);
    return status;
}
