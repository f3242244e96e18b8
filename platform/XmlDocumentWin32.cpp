// XML documents on Windows through the MSXML 3.0 DOM (DOMDocument30) over
// COM, with XPath as the selection language and white space kept, so that
// the texts read are the same as on Linux.
//
// Every public call enters the multithreaded apartment for its own duration
// (a thread already in a single-threaded one stays there: the DOM object is
// of the "Both" model).
#include <windows.h>
// After windows.h, which they build on.
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/XmlDocument.h"

namespace dravnel::platform {

namespace {

// CLSID of DOMDocument30 (msxml3.dll).
constexpr CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
// IID of IXMLDOMDocument2.
constexpr IID kDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// COM on the calling thread for one call.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    T** Out() {
        Reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::string& utf8) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
        b_ = SysAllocStringLen(nullptr, static_cast<UINT>(n));
        if (b_ && n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), b_, n);
    }
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return b_; }
    BSTR* Out() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::string Utf8() const {
        const UINT length = SysStringLen(b_);
        if (length == 0) return {};
        const int n = WideCharToMultiByte(CP_UTF8, 0, b_, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, b_, static_cast<int>(length), out.data(), n, nullptr, nullptr);
        return out;
    }

private:
    BSTR b_ = nullptr;
};

std::wstring WidePath(const std::string& path) {
    const int n = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), out.data(), n);
    return out;
}

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

std::string NameOf(IXMLDOMNode* node) {
    Bstr name;
    if (!node || node->get_nodeName(name.Out()) != S_OK) return {};
    return name.Utf8();
}

// The first child element of that name.
bool ChildElement(IXMLDOMNode* parent, const std::string& name, ComPtr<IXMLDOMNode>& found) {
    found.Reset();
    ComPtr<IXMLDOMNode> child;
    if (parent->get_firstChild(child.Out()) != S_OK) return false;
    while (child) {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_ELEMENT && NameOf(child.Get()) == name) {
            found.Attach(child.Get());
            child.Get()->AddRef();
            return true;
        }
        IXMLDOMNode* next = nullptr;
        if (child->get_nextSibling(&next) != S_OK) next = nullptr;
        child.Attach(next);
    }
    return false;
}

}  // namespace

struct XmlDocument::Impl {
    ComPtr<IXMLDOMDocument2> document;

    bool Create() {
        document.Reset();
        if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kDomDocument2,
                                    reinterpret_cast<void**>(document.Out()))))
            return false;
        document->put_async(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        document->put_resolveExternals(VARIANT_FALSE);
        document->put_preserveWhiteSpace(VARIANT_TRUE);
        VARIANT language;
        VariantInit(&language);
        language.vt = VT_BSTR;
        language.bstrVal = SysAllocString(L"XPath");
        document->setProperty(Bstr("SelectionLanguage").Get(), language);
        VariantClear(&language);
        return true;
    }

    bool Select(const std::string& xpath, ComPtr<IXMLDOMNode>& node) const {
        node.Reset();
        if (!document || xpath.empty()) return false;
        Bstr expression(xpath);
        return document->selectSingleNode(expression.Get(), node.Out()) == S_OK && node;
    }

    bool DocumentElement(ComPtr<IXMLDOMNode>& node) const {
        node.Reset();
        IXMLDOMElement* root = nullptr;
        if (!document || document->get_documentElement(&root) != S_OK || !root) return false;
        node.Attach(root);
        return true;
    }

    bool Find(const std::string& elementPath, ComPtr<IXMLDOMNode>& node) const {
        std::vector<std::string> names;
        if (!SplitPath(elementPath, names) || !DocumentElement(node) || NameOf(node.Get()) != names[0]) return false;
        for (size_t i = 1; i < names.size(); ++i) {
            ComPtr<IXMLDOMNode> child;
            if (!ChildElement(node.Get(), names[i], child)) return false;
            node.Attach(child.Get());
            child.Get()->AddRef();
        }
        return true;
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() {
    ComScope com;
    impl_.reset();
}

void XmlDocument::Clear() {
    ComScope com;
    impl_->document.Reset();
    loaded_ = false;
}

bool XmlDocument::FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool XmlDocument::LoadFile(const std::string& path) {
    Clear();
    if (!FileExists(path)) return false;
    ComScope com;
    if (!impl_->Create()) return false;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(WidePath(path).c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = impl_->document->load(source, &ok);
    VariantClear(&source);
    if (hr != S_OK || ok != VARIANT_TRUE) {
        impl_->document.Reset();
        return false;
    }
    loaded_ = true;
    return true;
}

bool XmlDocument::LoadBuffer(std::span<const uint8_t> bytes) {
    Clear();
    ComScope com;
    if (!impl_->Create()) return false;
    // From a stream, so that the document's own encoding declaration counts.
    IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    if (!stream) return false;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const HRESULT hr = impl_->document->load(source, &ok);
    stream->Release();
    if (hr != S_OK || ok != VARIANT_TRUE) {
        impl_->document.Reset();
        return false;
    }
    loaded_ = true;
    return true;
}

bool XmlDocument::NodeExists(const std::string& xpath) const {
    if (!loaded_) return false;
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    return impl_->Select(xpath, node);
}

std::string XmlDocument::NodeText(const std::string& xpath) const {
    if (!loaded_) return {};
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    Bstr text;
    if (!impl_->Select(xpath, node) || node->get_text(text.Out()) != S_OK) return {};
    return text.Utf8();
}

void XmlDocument::CreateEmpty() {
    Clear();
    ComScope com;
    if (!impl_->Create()) return;
    IXMLDOMProcessingInstruction* declaration = nullptr;
    if (impl_->document->createProcessingInstruction(Bstr("xml").Get(), Bstr("version='1.0' encoding='utf-8'").Get(),
                                                     &declaration) == S_OK) {
        IXMLDOMNode* added = nullptr;
        impl_->document->appendChild(declaration, &added);
        if (added) added->Release();
        declaration->Release();
    }
    loaded_ = true;
}

bool XmlDocument::ElementExists(const std::string& elementPath) const {
    if (!loaded_) return false;
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    return impl_->Find(elementPath, node);
}

std::string XmlDocument::ElementText(const std::string& elementPath) const {
    if (!loaded_) return {};
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    Bstr text;
    if (!impl_->Find(elementPath, node) || node->get_text(text.Out()) != S_OK) return {};
    return text.Utf8();
}

bool XmlDocument::EnsureElement(const std::string& elementPath) {
    std::vector<std::string> names;
    if (!loaded_ || !SplitPath(elementPath, names)) return false;
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    if (impl_->DocumentElement(node)) {
        if (NameOf(node.Get()) != names[0]) return false;
    } else {
        IXMLDOMElement* root = nullptr;
        if (impl_->document->createElement(Bstr(names[0]).Get(), &root) != S_OK) return false;
        IXMLDOMNode* added = nullptr;
        const HRESULT hr = impl_->document->appendChild(root, &added);
        root->Release();
        if (hr != S_OK || !added) return false;
        node.Attach(added);
    }
    for (size_t i = 1; i < names.size(); ++i) {
        ComPtr<IXMLDOMNode> child;
        if (!ChildElement(node.Get(), names[i], child)) {
            IXMLDOMElement* element = nullptr;
            if (impl_->document->createElement(Bstr(names[i]).Get(), &element) != S_OK) return false;
            IXMLDOMNode* added = nullptr;
            const HRESULT hr = node->appendChild(element, &added);
            element->Release();
            if (hr != S_OK || !added) return false;
            child.Attach(added);
        }
        node.Attach(child.Get());
        child.Get()->AddRef();
    }
    return true;
}

bool XmlDocument::SetElementText(const std::string& elementPath, const std::string& text) {
    if (!EnsureElement(elementPath)) return false;
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    return impl_->Find(elementPath, node) && node->put_text(Bstr(text).Get()) == S_OK;
}

bool XmlDocument::RemoveChildren(const std::string& elementPath, const std::string& prefix,
                                 const std::vector<std::string>& keep) {
    if (!loaded_) return false;
    ComScope com;
    ComPtr<IXMLDOMNode> node;
    if (!impl_->Find(elementPath, node)) return false;
    ComPtr<IXMLDOMNode> child;
    if (node->get_firstChild(child.Out()) != S_OK) return true;
    while (child) {
        IXMLDOMNode* next = nullptr;
        if (child->get_nextSibling(&next) != S_OK) next = nullptr;
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        const std::string name = NameOf(child.Get());
        if (type == NODE_ELEMENT && name.compare(0, prefix.size(), prefix) == 0 &&
            std::find(keep.begin(), keep.end(), name) == keep.end()) {
            IXMLDOMNode* removed = nullptr;
            node->removeChild(child.Get(), &removed);
            if (removed) removed->Release();
        }
        child.Attach(next);
    }
    return true;
}

bool XmlDocument::SaveFile(const std::string& path) const {
    if (!loaded_ || path.empty()) return false;
    ComScope com;
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial.fetch_add(1));
    VARIANT target;
    VariantInit(&target);
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(WidePath(temporary).c_str());
    const HRESULT hr = impl_->document->save(target);
    VariantClear(&target);
    // Written through before it takes the old file's place.
    bool ok = hr == S_OK;
    if (ok) {
        HANDLE file = CreateFileW(WidePath(temporary).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    if (ok)
        ok = MoveFileExW(WidePath(temporary).c_str(), WidePath(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileW(WidePath(temporary).c_str());
    return ok;
}

bool XmlDocument::SetAside(const std::string& path, const std::string& suffix) {
    return !path.empty() &&
           MoveFileExW(WidePath(path).c_str(), WidePath(path + suffix).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace dravnel::platform
