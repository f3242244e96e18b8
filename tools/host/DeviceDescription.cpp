#include "tools/host/DeviceDescription.h"

namespace dravnel::host {

const char* DeviceDescription::GetParameter(int n) {
    auto it = parameters.find(n);
    return it == parameters.end() ? nullptr : it->second.c_str();
}

}  // namespace dravnel::host
