// The PTZ capability text comes back from the host as stored device data.
// Whatever it holds, writing the parsed record and reading it again must give
// the same record.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ptz/CPtzCapabilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const dravnel::CPtzCapabilities parsed = dravnel::ParseCapabilityString(text);
    if (parsed.presetCount > 0x7fffffff) __builtin_trap();
    const std::string written = dravnel::BuildCapabilityString(parsed);
    const dravnel::CPtzCapabilities again = dravnel::ParseCapabilityString(written);
    if (dravnel::BuildCapabilityString(again) != written) __builtin_trap();
    return 0;
}
