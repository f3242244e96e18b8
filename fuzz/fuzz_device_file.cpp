// A device file is read back from disk, where anyone may have edited it.
// Whatever it holds, a file that reads must write out and read back to the
// same device.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/cli/DeviceFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    dravnel::cli::DeviceOptions device;
    std::string error;
    if (!dravnel::cli::ParseDeviceFile(text, device, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    std::string written;
    if (!dravnel::cli::FormatDeviceFile(device, written, error)) return 0;  // a value with a bare CR
    dravnel::cli::DeviceOptions again;
    if (!dravnel::cli::ParseDeviceFile(written, again, error)) __builtin_trap();
    std::string rewritten;
    if (!dravnel::cli::FormatDeviceFile(again, rewritten, error) || rewritten != written) __builtin_trap();
    return 0;
}
