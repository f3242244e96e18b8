// A loaded XML file that answers XPath questions: the reader of the device
// settings file and of the preset files.
//
// Loading happens once; a second Load of a loaded parser succeeds without
// reading again. Every failure shows as false or an empty text.
//
// Thread-safety: every operation takes the parser's lock, so one parser may be
// shared; in practice each reader builds its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/XmlDocument.h"
#include "threads/CLock.h"

namespace dravnel {

class CXMLParser {
public:
    CXMLParser() = default;
    virtual ~CXMLParser() = default;
    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;

    // False for an empty path, a missing file or malformed XML.
    bool Load(const std::string& path);
    // The same from bytes already in memory.
    bool LoadBuffer(std::span<const uint8_t> bytes);

    bool NodeExists(const std::string& xpath);
    // Text content of the first matching node; empty when none matches.
    std::string GetText(const std::string& xpath);

private:
    CLock lock_;
    bool loaded_ = false;
    platform::XmlDocument document_;
};

}  // namespace dravnel
