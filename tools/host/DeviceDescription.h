// The host's description of one device: connection record, device record and
// numbered driver parameters, all settable.
//
// Thread-safety: set up before Open; the driver reads it during Open only.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "quarnel/HostObjects.h"

namespace dravnel::host {

class DeviceDescription : public dravnel::ipcapture::IHostDeviceDescription,
                          private dravnel::ipcapture::IHostConnectionRecord,
                          private dravnel::ipcapture::IHostDeviceRecord {
public:
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    int codec = 3;
    std::string userName;
    std::string password;
    std::string model;
    uint32_t channels = 1;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    // Driver parameters from 1 on; the first missing number ends the list.
    std::map<int, std::string> parameters;

    dravnel::ipcapture::IHostDeviceRecord* GetDevice() override { return this; }
    dravnel::ipcapture::IHostConnectionRecord* GetConnection() override { return this; }
    const char* GetParameter(int n) override;

private:
    const char* GetAddress() override { return address.c_str(); }
    uint16_t GetPort() override { return port; }
    int GetCodec() override { return codec; }
    const char* GetUserName() override { return userName.c_str(); }
    const char* GetPassword() override { return password.c_str(); }
    const char* GetModel() override { return model.c_str(); }
    uint32_t GetChannelCount() override { return channels; }
    uint32_t GetAlarmInputCount() override { return inputs; }
    uint32_t GetAlarmOutputCount() override { return outputs; }
};

}  // namespace dravnel::host
