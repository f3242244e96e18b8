#include "driver/CXMLParser.h"

namespace dravnel {

bool CXMLParser::Load(const std::string& path) {
    if (path.empty() || !platform::XmlDocument::FileExists(path)) return false;
    CScopedLock guard(lock_);
    if (loaded_) return true;
    if (!document_.LoadFile(path)) return false;
    loaded_ = true;
    return true;
}

bool CXMLParser::LoadBuffer(std::span<const uint8_t> bytes) {
    CScopedLock guard(lock_);
    if (loaded_) return true;
    loaded_ = document_.LoadBuffer(bytes);
    return loaded_;
}

bool CXMLParser::NodeExists(const std::string& xpath) {
    CScopedLock guard(lock_);
    return loaded_ && !xpath.empty() && document_.NodeExists(xpath);
}

std::string CXMLParser::GetText(const std::string& xpath) {
    CScopedLock guard(lock_);
    if (!loaded_ || xpath.empty()) return {};
    return document_.NodeText(xpath);
}

}  // namespace dravnel
