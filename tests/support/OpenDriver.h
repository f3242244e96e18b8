// A driver opened on the recording host, for tests of the driver object.
#pragma once

#include <memory>

#include "driver/CQuarnelDriver.h"
#include "tools/host/DebugSink.h"
#include "tools/host/DeviceDescription.h"
#include "tools/host/FrameAllocator.h"

namespace dravnel::test {

struct OpenDriver {
    host::DebugSink debug;
    host::FrameAllocator allocator;
    host::DeviceDescription description;
    std::unique_ptr<dravnel::CQuarnelDriver> driver = std::make_unique<dravnel::CQuarnelDriver>();

    OpenDriver() { description.parameters = {{1, "0"}, {2, "0"}}; }
    bool Open() { return driver->Open(&debug, &allocator, &description); }
};

}  // namespace dravnel::test
