#include "platform/WinTransfer.h"

#include <windows.h>

#include <algorithm>

#include "platform/HttpHead.h"

namespace dravnel::platform {

std::wstring WidenAnsi(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string NarrowAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void WinTransfer::ResetResponse() {
    status_ = 0;
    noHead_ = false;
    contentLength_.reset();
    headerLines_.clear();
    ClearBody();
}

void WinTransfer::TakeRawHead(std::string_view text) {
    headerLines_.clear();
    contentLength_.reset();
    done_ = false;
    size_t start = text.find("\r\n");  // after the status line
    while (start != std::string_view::npos && start + 2 < text.size()) {
        const size_t end = text.find("\r\n", start + 2);
        const std::string_view line = text.substr(start + 2, end == std::string_view::npos ? end : end - start - 2);
        if (!line.empty()) headerLines_.emplace_back(line);
        start = end;
    }
    for (const std::string& value : HeaderValues("Content-Length")) {
        uint64_t n = 0;
        bool digits = !value.empty();
        for (const char c : value) {
            if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) {
                digits = false;
                break;
            }
            n = n * 10 + static_cast<uint64_t>(c - '0');
        }
        if (digits) contentLength_ = n;
    }
}

std::vector<std::string> WinTransfer::HeaderValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const std::string& line : headerLines_) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || !EqualsNoCase(std::string_view(line).substr(0, colon), name)) continue;
        size_t first = colon + 1;
        size_t last = line.size();
        while (first < last && (line[first] == ' ' || line[first] == '\t')) ++first;
        while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t')) --last;
        values.push_back(line.substr(first, last - first));
    }
    return values;
}

uint8_t* WinTransfer::Reserve(size_t want) {
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    reserved_ = buffer_.size();
    buffer_.resize(reserved_ + want);
    return buffer_.data() + reserved_;
}

void WinTransfer::Commit(size_t got) { buffer_.resize(reserved_ + std::min(got, buffer_.size() - reserved_)); }

size_t WinTransfer::Take(std::vector<uint8_t>& out, size_t maxBytes) {
    const size_t n = std::min(maxBytes, Buffered());
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(n));
    readPos_ += n;
    return n;
}

void WinTransfer::ClearBody() {
    done_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    readPos_ = 0;
}

}  // namespace dravnel::platform
