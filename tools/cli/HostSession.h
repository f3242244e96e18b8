// One device opened the way a recorder opens it: the driver library, the
// host's objects, and the driver object between Open and Close.
//
// Thread-safety: used by the CLI's main thread; the host objects it owns take
// calls from the driver's threads.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "tools/cli/DriverLibrary.h"
#include "tools/cli/Options.h"
#include "tools/host/DebugSink.h"
#include "tools/host/DeviceDescription.h"
#include "tools/host/FrameAllocator.h"

namespace dravnel::cli {

class HostSession {
public:
    explicit HostSession(DeviceOptions options) : options_(std::move(options)) {}
    ~HostSession();

    // Loads the library, creates the driver and opens it. Diagnostic lines go
    // to `log` as they arrive. Prints the reason and returns false on failure.
    bool Open(FILE* log);
    // The same, with each diagnostic line handed to `listener`.
    bool Open(std::function<void(const host::DebugLine&)> listener);
    void Close();

    dravnel::ipcapture::IIPCaptureDriverEx3* driver() { return driver_; }
    host::DebugSink& debug() { return debug_; }
    host::FrameAllocator& allocator() { return allocator_; }

private:
    DeviceOptions options_;
    DriverLibrary library_;
    host::DebugSink debug_;
    host::FrameAllocator allocator_;
    host::DeviceDescription description_;
    dravnel::ipcapture::IIPCaptureDriverEx3* driver_ = nullptr;
};

// "MAJOR.MINOR[.BUILD.REVISION]" as --host-version takes it.
bool ParseHostVersion(const std::string& text, uint16_t out[4]);

// "[level] text" as the CLI prints diagnostic lines.
std::string FormatDebugLine(const host::DebugLine& line);

}  // namespace dravnel::cli
