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

}  // namespace dravnel
