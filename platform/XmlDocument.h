// A read-only XML document: loaded once from a file or from memory, then
// queried with XPath 1.0 expressions.
//
// Malformed documents, unreadable files and invalid expressions are reported
// through the results (false, empty text); nothing throws.
//
// Thread-safety: none; one document is used by one thread at a time (callers
// that share one guard it themselves).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace platform {

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Replaces what was loaded. False when the file cannot be read or is not
    // well-formed XML; the document is then empty.
    bool LoadFile(const std::string& path);
    bool LoadBuffer(std::span<const uint8_t> bytes);
    bool Loaded() const { return loaded_; }
    void Clear();

    // Whether a node matches; false for an invalid expression.
    bool NodeExists(const std::string& xpath) const;
    // Text content of the first matching node: the concatenated character data
    // of an element and all its descendants, or an attribute's value, unchanged
    // (blanks kept). Empty when nothing matches.
    std::string NodeText(const std::string& xpath) const;

    static bool FileExists(const std::string& path);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool loaded_ = false;
};

}  // namespace platform
