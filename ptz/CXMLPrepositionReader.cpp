#include "ptz/CXMLPrepositionReader.h"

#include "web/HUtils.h"

namespace dravnel {

CXMLPrepositionReader::CXMLPrepositionReader(std::string familyName) : familyName_(std::move(familyName)) {}

std::string CXMLPrepositionReader::ChannelElement(unsigned channel) {
    return HUtils::Format("PtzChannel%.2u", channel + 1u);
}

std::string CXMLPrepositionReader::PositionElement(unsigned position) {
    return HUtils::Format("Preposition%.3u", position);
}

std::string CXMLPrepositionReader::ResolvePath(const std::string& fileName, const std::string& hostDirectory) {
    if (fileName.empty() || fileName[0] == '/' || hostDirectory.empty()) return fileName;
    return hostDirectory.back() == '/' ? hostDirectory + fileName : hostDirectory + "/" + fileName;
}

std::string CXMLPrepositionReader::ChannelPath(unsigned channel) const {
    return familyName_ + "/" + ChannelElement(channel);
}

std::string CXMLPrepositionReader::PositionPath(unsigned channel, unsigned position) const {
    return ChannelPath(channel) + "/" + PositionElement(position);
}

bool CXMLPrepositionReader::Open(const std::string& fileName, const std::string& hostDirectory) {
    CScopedLock guard(lock_);
    const std::string path = ResolvePath(fileName, hostDirectory);
    if (path.empty()) return false;
    path_ = path;
    if (document_.LoadFile(path)) {
        // A file whose document element is another family's is not ours to
        // write into.
        autoSave_ = document_.EnsureElement(familyName_);
        return autoSave_;
    }
    // A file that is there but cannot be read is kept beside the new one for
    // whoever wants to recover its names.
    if (platform::XmlDocument::FileExists(path) && !platform::XmlDocument::SetAside(path, ".unreadable")) {
        autoSave_ = false;
        return false;
    }
    document_.CreateEmpty();
    autoSave_ = document_.EnsureElement(familyName_) && document_.SaveFile(path) && document_.LoadFile(path);
    return autoSave_;
}

bool CXMLPrepositionReader::OpenBuffer(std::span<const uint8_t> bytes) {
    CScopedLock guard(lock_);
    autoSave_ = false;
    path_.clear();
    return document_.LoadBuffer(bytes);
}

bool CXMLPrepositionReader::SaveLocked() {
    if (path_.empty()) return true;  // in memory only
    return document_.SaveFile(path_);
}

void CXMLPrepositionReader::SelectChannel(unsigned channel) {
    CScopedLock guard(lock_);
    const std::string path = ChannelPath(channel);
    if (!document_.Loaded() || document_.ElementExists(path)) return;
    if (document_.EnsureElement(path) && autoSave_) SaveLocked();
}

bool CXMLPrepositionReader::ReadPreposition(unsigned channel, unsigned position, std::string& name, uint32_t& slot) {
    CScopedLock guard(lock_);
    const std::string base = PositionPath(channel, position);
    std::string readName = document_.ElementText(base + "/Name");
    if (readName.empty()) return false;
    const std::string slotText = document_.ElementText(base + "/Slot");
    if (slotText.empty() || slotText.find_first_not_of("0123456789") != std::string::npos) return false;
    name = std::move(readName);
    slot = HUtils::ParseDecimal(slotText);
    return true;
}

bool CXMLPrepositionReader::WritePreposition(unsigned channel, unsigned position, const std::string& name,
                                             uint32_t slot) {
    CScopedLock guard(lock_);
    const std::string base = PositionPath(channel, position);
    if (!document_.SetElementText(base + "/Name", name)) return false;
    if (!document_.SetElementText(base + "/Slot", std::to_string(slot))) return false;
    return !autoSave_ || SaveLocked();
}

bool CXMLPrepositionReader::TruncateChannel(unsigned channel, unsigned count) {
    CScopedLock guard(lock_);
    std::vector<std::string> keep;
    keep.reserve(count);
    for (unsigned position = 0; position < count; ++position) keep.push_back(PositionElement(position));
    if (!document_.RemoveChildren(ChannelPath(channel), "Preposition", keep)) return false;
    return !autoSave_ || SaveLocked();
}

void CXMLPrepositionReader::BeginBatch() {
    CScopedLock guard(lock_);
    autoSave_ = false;
}

bool CXMLPrepositionReader::EndBatch() {
    CScopedLock guard(lock_);
    autoSave_ = !path_.empty();
    return SaveLocked();
}

}  // namespace dravnel
