// The settings file loader over arbitrary file contents: whatever the file
// holds, the reader gives a valid mode, either no block size or one above
// 100, and either no receive buffer or one of a usable size.
#include <cstddef>
#include <cstdint>
#include <span>

#include "driver/CXMLParser.h"
#include "driver/DeviceSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::CXMLParser file;
    if (!file.LoadBuffer(std::span<const uint8_t>(data, size))) return 0;
    for (const char* address : {"10.0.0.5", "127.0.0.1", "", "a\"b"}) {
        const dravnel::DeviceSettings s = dravnel::ReadDeviceSettings(file, address, 80);
        if (s.RTPMode < dravnel::kRtpOverUdp || s.RTPMode > dravnel::kRtpOverHttp) __builtin_trap();
        if (s.RTPPacketSize != 0 && s.RTPPacketSize <= 100) __builtin_trap();
        if (s.RTPReceiveBuffer != 0 && s.RTPReceiveBuffer < dravnel::kMinRTPReceiveBuffer) __builtin_trap();
    }
    file.GetText("//*");
    file.NodeExists("/Configuration/Device/@address");
    return 0;
}
