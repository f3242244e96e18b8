// CRTSPResponseParser over arbitrary replies. The first byte picks the method
// the reply answers (including codes no request has); the rest is split at
// the first 0xFF byte into two replies parsed in turn into one parser, as a
// session does. The framing functions read the first one as the session
// does before it parses: its CSeq, its header block and announced body.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/RTSPReplyFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    using dravnel::RTSPMethod;
    const auto method = static_cast<RTSPMethod>(data[0] % 8);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = text.find('\xFF');
    const std::string_view first = text.substr(0, cut);
    dravnel::ReplyCSeq(first);
    const size_t header = dravnel::HeaderBlockLength(first);
    if (header != std::string_view::npos &&
        dravnel::AnnouncedContentLength(first.substr(0, header)) > dravnel::kMaxReplyBytes + 1)
        __builtin_trap();
    dravnel::CRTSPResponseParser parser;
    const bool ok = parser.Parse(text.substr(0, cut), method);
    if (ok && parser.statusCode != 200 && parser.statusCode != 401) __builtin_trap();
    if (ok && parser.authScheme == dravnel::AuthScheme::Digest && (parser.realm.empty() || parser.nonce.empty()))
        __builtin_trap();
    if (cut != std::string_view::npos) parser.Parse(text.substr(cut + 1), RTSPMethod::Describe);
    for (const auto* set : {&parser.codecConfig.sps, &parser.codecConfig.pps, &parser.codecConfig.config})
        if (set->size() > 256) __builtin_trap();
    return 0;
}
