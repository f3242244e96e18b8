#include "ptz/CBasePTZHandler.h"

#include <new>

#include "web/CResultDef.h"
#include "web/HUtils.h"

namespace dravnel {

CBasePTZHandler::CBasePTZHandler(IDriver* driver, unsigned channelCount, std::string deviceFamilyName)
    : driver_(driver), channelCount_(channelCount), deviceFamilyName_(std::move(deviceFamilyName)) {}

CBasePTZHandler::~CBasePTZHandler() { ReleaseControls(); }

void CBasePTZHandler::ReleaseControls() { controls_.clear(); }

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(unsigned channel) {
    if (channel >= channelCount_) return nullptr;
    const auto found = controls_.find(channel);
    if (found != controls_.end() && found->second) return found->second.get();
    if (deviceFamilyName_.empty()) return nullptr;
    if (!storage_ && !InitializeXMLStorage()) return nullptr;
    std::unique_ptr<CBasePTZControl> control(CreatePTZControl(channel));
    if (!control || !control->Initialize(storage_)) return nullptr;
    CBasePTZControl* handed = control.get();
    controls_[channel] = std::move(control);
    return handed;
}

bool CBasePTZHandler::InitializeXMLStorage() {
    static const char* const kOperation = "dravnel::CBasePTZHandler::InitializeXMLStorage";
    CResultDef result;
    const std::string fileName = GetXMLStorageFileName();
    if (fileName.empty()) {
        result = CResultDef(kLevelError, 3,
                            HUtils::Format("%s: PTZ module cannot be initialized! Name of file for preset storing "
                                           "was not defined",
                                           kOperation));
    } else {
        storage_ = new (std::nothrow) CXMLPrepositionReader(deviceFamilyName_);
        if (!storage_) {
            result = CResultDef(
                kLevelError, 5,
                HUtils::Format("%s: not enough memory for creating CXMLPrepositionReader object", kOperation));
        } else if (!storage_->Open(fileName, driver_ ? driver_->GetHostDirectory() : std::string())) {
            // Dropped, so that the next request tries the file again instead
            // of running controls on a storage that keeps nothing.
            storage_.Release();
            result = CResultDef(kLevelError, 1,
                                HUtils::Format("%s: cannot initialize CXMLPrepositionReader object with parameter "
                                               "\"%s\"",
                                               kOperation, fileName.c_str()));
        }
    }
    if (!result.message.empty() && result.level != static_cast<uint32_t>(kLevelNever) && driver_)
        driver_->DebugMessage(static_cast<int>(result.level), "%s", result.message.c_str());
    return result.Succeeded();
}

std::string CVistaPTZHandler::GetXMLStorageFileName() {
    const std::string name = Driver() ? Driver()->GetParameterText(8) : std::string();
    if (name.empty() && Driver()) {
        const DEVICE_INFO* device = Driver()->GetDeviceInfo();
        Driver()->DebugMessage(kLevelError, "%s: PTZ handler for device %s is not created!",
                               "dravnel::CVistaPTZHandler::GetXMLStorageFileName",
                               device ? device->Address.c_str() : "");
    }
    return name;
}

CBasePTZControl* CVistaPTZHandler::CreatePTZControl(unsigned channel) {
    return new (std::nothrow) CVistaPTZControl(Driver(), channel);
}

}  // namespace dravnel
