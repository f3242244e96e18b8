// The optional settings file beside the host executable: per device, how RTP
// is carried, the RTSP block size and the UDP receive buffer of RTP.
//
//   <Configuration>
//     <Default><RTPMode>RTPoverTCP</RTPMode></Default>
//     <Device address="10.0.0.5" port="80">
//       <RTPMode>RTPoverRTSP</RTPMode>
//       <RTPPacketSize>1400</RTPPacketSize>
//       <RTPReceiveBuffer>4194304</RTPReceiveBuffer>
//     </Device>
//   </Configuration>
//
// A device's own section, when present, is the only one consulted for it; the
// default section serves devices without one. Every failure gives the defaults
// (RTP over UDP, no block size) without a message. The file is read anew on
// every call, so an edited file takes effect at the next connect.
//
// Thread-safety: reentrant; each call uses its own parser.
#pragma once

#include <cstdint>
#include <string>

#include "quarnel/CaptureDriver.h"

namespace dravnel {

class CXMLParser;

// RTP transports named in the settings file.
constexpr int32_t kRtpOverUdp = 0;
constexpr int32_t kRtpOverTcp = 1;
constexpr int32_t kRtpOverRtsp = 2;  // interleaved on the RTSP connection
constexpr int32_t kRtpOverHttp = 3;

// The RTP socket's receive buffer may be set from this size up.
constexpr int32_t kMinRTPReceiveBuffer = 4096;

struct DeviceSettings {
    int32_t RTPMode = kRtpOverUdp;
    int32_t RTPPacketSize = 0;  // block size for the RTSP client; 0 = none
    // Bytes of the RTP UDP socket's receive buffer; 0 = the driver's own size.
    int32_t RTPReceiveBuffer = 0;
};

// Host directory + driver name + ".xml"; empty without a host directory.
std::string DeviceSettingsPath(IDriver* driver);

DeviceSettings ReadDeviceSettings(IDriver* driver);

// The values for the device at address:port from a loaded file.
DeviceSettings ReadDeviceSettings(CXMLParser& file, const std::string& address, uint16_t port);

}  // namespace dravnel
