// An XML document: loaded from a file or from memory and queried with XPath
// 1.0 expressions; or edited along element paths and saved to a file.
//
// An element path names elements from the document element down, separated by
// '/', without XPath syntax ("Vista/PtzChannel01/Preposition000/Name"): it
// selects the first element of each name, so text from outside (names of
// presets) never becomes part of an expression.
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
#include <vector>

namespace dravnel::platform {

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

    // A new, empty document with the declaration version='1.0' encoding='utf-8'.
    void CreateEmpty();
    bool ElementExists(const std::string& elementPath) const;
    // The text of the element at an element path; empty when it is missing.
    std::string ElementText(const std::string& elementPath) const;
    // Creates every missing element along the path. False for an empty path
    // or a name that is not an XML name, or when the document holds another
    // document element.
    bool EnsureElement(const std::string& elementPath);
    // EnsureElement, then replaces the element's content by `text`.
    bool SetElementText(const std::string& elementPath, const std::string& text);
    // Removes the element's children whose names start with `prefix` and are
    // not in `keep`. False when the element is missing.
    bool RemoveChildren(const std::string& elementPath, const std::string& prefix,
                        const std::vector<std::string>& keep);
    // Writes the document to `path` so that the file holds either its old or
    // its new content whatever happens during the write: a temporary file
    // beside it is written and flushed, then renamed over it.
    bool SaveFile(const std::string& path) const;
    // Renames a file that cannot be used to `path` + `suffix`, replacing an
    // older one of that name, so that a new file can take its place.
    static bool SetAside(const std::string& path, const std::string& suffix);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool loaded_ = false;
};

}  // namespace dravnel::platform
