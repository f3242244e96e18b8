#include "platform/XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <pugixml.hpp>
#include <sstream>

namespace dravnel::platform {

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

namespace {

// An XML name as far as these paths need one: a letter or '_', then letters,
// digits, '_', '-' or '.'.
bool IsElementName(const std::string& name) {
    if (name.empty()) return false;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(name[0])) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
    return true;
}

bool SplitPath(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        names.push_back(path.substr(start, end - start));
        if (!IsElementName(names.back())) return false;
        start = end + 1;
    }
    return !names.empty();
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void XmlDocument::CreateEmpty() {
    Clear();
    pugi::xml_node declaration = impl_->document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "utf-8";
    loaded_ = true;
}

namespace {

pugi::xml_node FindElement(const pugi::xml_document& document, const std::string& elementPath) {
    std::vector<std::string> names;
    if (!SplitPath(elementPath, names)) return {};
    // The path starts at the document element, whatever else stands at the
    // top of a malformed document.
    pugi::xml_node node = document.document_element();
    if (!node || names[0] != node.name()) return {};
    for (size_t i = 1; i < names.size(); ++i) {
        node = node.child(names[i].c_str());
        if (!node) return {};
    }
    return node;
}

}  // namespace

bool XmlDocument::ElementExists(const std::string& elementPath) const {
    return loaded_ && static_cast<bool>(FindElement(impl_->document, elementPath));
}

std::string XmlDocument::ElementText(const std::string& elementPath) const {
    if (!loaded_) return {};
    return FindElement(impl_->document, elementPath).text().get();
}

bool XmlDocument::SetAside(const std::string& path, const std::string& suffix) {
    return !path.empty() && ::rename(path.c_str(), (path + suffix).c_str()) == 0;
}

bool XmlDocument::EnsureElement(const std::string& elementPath) {
    std::vector<std::string> names;
    if (!loaded_ || !SplitPath(elementPath, names)) return false;
    const pugi::xml_node root = impl_->document.document_element();
    if (root && names[0] != root.name()) return false;
    pugi::xml_node node = impl_->document;
    for (const std::string& name : names) {
        pugi::xml_node next = node.child(name.c_str());
        if (!next) next = node.append_child(name.c_str());
        if (!next) return false;
        node = next;
    }
    return true;
}

bool XmlDocument::SetElementText(const std::string& elementPath, const std::string& text) {
    if (!EnsureElement(elementPath)) return false;
    pugi::xml_node node = FindElement(impl_->document, elementPath);
    while (node.first_child()) node.remove_child(node.first_child());
    return node.text().set(text.c_str());
}

bool XmlDocument::RemoveChildren(const std::string& elementPath, const std::string& prefix,
                                 const std::vector<std::string>& keep) {
    if (!loaded_) return false;
    pugi::xml_node node = FindElement(impl_->document, elementPath);
    if (!node) return false;
    for (pugi::xml_node child = node.first_child(); child;) {
        const pugi::xml_node next = child.next_sibling();
        const std::string name = child.name();
        if (child.type() == pugi::node_element && name.compare(0, prefix.size(), prefix) == 0 &&
            std::find(keep.begin(), keep.end(), name) == keep.end())
            node.remove_child(child);
        child = next;
    }
    return true;
}

bool XmlDocument::SaveFile(const std::string& path) const {
    if (!loaded_ || path.empty()) return false;
    std::ostringstream out;
    // The declaration is written here: a loaded document does not keep its own.
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    for (pugi::xml_node node = impl_->document.first_child(); node; node = node.next_sibling())
        if (node.type() != pugi::node_declaration) node.print(out, "  ", pugi::format_default, pugi::encoding_utf8);
    const std::string bytes = out.str();

    // A name no other writer uses; the umask applies to it as to any new file.
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts once the directory is on disk.
    const std::string directory = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace dravnel::platform
