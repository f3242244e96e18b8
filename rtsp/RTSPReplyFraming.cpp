#include "rtsp/RTSPReplyFraming.h"

#include <string>

#include "web/HUtils.h"

namespace dravnel {

size_t HeaderBlockLength(std::string_view text) {
    const size_t at = text.find("\r\n\r\n");
    return at == std::string_view::npos ? std::string_view::npos : at + 4;
}

size_t AnnouncedContentLength(std::string_view headerBlock) {
    const std::string value =
        HUtils::Trim(HUtils::GetValue(HUtils::ToLower(headerBlock), "content-length", ":", "\r\n"));
    if (value.empty()) return 0;
    size_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
        length = length * 10 + static_cast<size_t>(c - '0');
        if (length > kMaxReplyBytes) return kMaxReplyBytes + 1;
    }
    return length;
}

std::optional<uint32_t> ReplyCSeq(std::string_view headerBlock) {
    const size_t end = HeaderBlockLength(headerBlock);
    const std::string head =
        HUtils::ToLower(headerBlock.substr(0, end == std::string_view::npos ? headerBlock.size() : end));
    const std::string value = HUtils::Trim(HUtils::GetValue(head, "cseq", ":", "\r\n"));
    if (value.empty() || value.size() > 10) return std::nullopt;
    uint64_t number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(number);
}

}  // namespace dravnel
