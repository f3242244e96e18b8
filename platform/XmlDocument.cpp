#include "platform/XmlDocument.h"

#include <sys/stat.h>

#include <new>
#include <pugixml.hpp>

namespace platform {

struct XmlDocument::Impl {
    pugi::xml_document document;

    // The first node the expression selects; an empty node when none does or
    // the expression is not valid XPath.
    pugi::xpath_node Select(const std::string& xpath) const {
        if (xpath.empty()) return {};
        try {
            return document.select_node(xpath.c_str());
        } catch (const pugi::xpath_exception&) {
            return {};
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;

void XmlDocument::Clear() {
    impl_->document.reset();
    loaded_ = false;
}

bool XmlDocument::FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool XmlDocument::LoadFile(const std::string& path) {
    Clear();
    if (!FileExists(path)) return false;
    const pugi::xml_parse_result result = impl_->document.load_file(path.c_str());
    if (!result) {
        impl_->document.reset();
        return false;
    }
    loaded_ = true;
    return true;
}

bool XmlDocument::LoadBuffer(std::span<const uint8_t> bytes) {
    Clear();
    const pugi::xml_parse_result result = impl_->document.load_buffer(bytes.data(), bytes.size());
    if (!result) {
        impl_->document.reset();
        return false;
    }
    loaded_ = true;
    return true;
}

bool XmlDocument::NodeExists(const std::string& xpath) const {
    return loaded_ && static_cast<bool>(impl_->Select(xpath));
}

std::string XmlDocument::NodeText(const std::string& xpath) const {
    if (!loaded_) return {};
    const pugi::xpath_node found = impl_->Select(xpath);
    if (found.attribute()) return found.attribute().value();
    const pugi::xml_node top = found.node();
    if (!top) return {};
    if (top.type() == pugi::node_pcdata || top.type() == pugi::node_cdata) return top.value();

    // Walk the subtree without recursion: a hostile file may nest deeply.
    std::string text;
    pugi::xml_node node = top.first_child();
    while (node) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) text += node.value();
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != top && !node.next_sibling()) node = node.parent();
        if (!node || node == top) break;
        node = node.next_sibling();
    }
    return text;
}

}  // namespace platform
