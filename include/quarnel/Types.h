// Plain types shared by the driver and its host.
#pragma once

#include <cstdint>
#include <string>

namespace dravnel {

// A calendar time in UTC, field for field like the Win32 SYSTEMTIME the host
// stores with every frame.
struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;      // 1..12
    uint16_t wDayOfWeek = 0;  // 0 = Sunday
    uint16_t wDay = 0;        // 1..31
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// Four-character codes, little-endian: the first character is the low byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kCodecTagH264Key = MakeFourCC('H', '2', '6', '4');  // H.264 frame with an SPS
constexpr uint32_t kCodecTagH264 = MakeFourCC('I', '2', '6', '4');     // any other H.264 frame
constexpr uint32_t kCodecTagMpeg4Key = MakeFourCC('D', 'I', 'V', 'X');
constexpr uint32_t kCodecTagMpeg4 = MakeFourCC('D', 'I', 'V', 'I');
constexpr uint32_t kCodecTagJpeg = MakeFourCC('J', 'P', 'E', 'G');

// Codec numbers of the host's connection record.
constexpr int kCodecMjpeg = 1;
constexpr int kCodecMpeg4 = 2;
constexpr int kCodecH264 = 3;

// The device record every sender, channel and session is built from.
struct DEVICE_INFO {
    DEVICE_INFO() = default;
    DEVICE_INFO(std::string address, uint16_t port, std::string userName, std::string password)
        : Address(std::move(address)), Port(port), UserName(std::move(userName)), Password(std::move(password)) {}
    DEVICE_INFO(std::string address, std::string userName, std::string password)
        : DEVICE_INFO(std::move(address), 80, std::move(userName), std::move(password)) {}
    DEVICE_INFO(const DEVICE_INFO&) = default;
    DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
    virtual ~DEVICE_INFO() = default;

    uint32_t HttpTimeout = 5000;    // ms: HTTP requests, RTSP connect/receive, first frame
    uint32_t StreamTimeout = 5000;  // ms: silence limit of the capture loop
    std::string Address;
    uint16_t Port = 80;
    std::string UserName;
    std::string Password;
    std::string Model;
};

// Smallest 32-bit integer: an absent or malformed integer parameter.
constexpr int kNoIntParameter = INT32_MIN;

}  // namespace dravnel
