// BuildAuthorization over arbitrary challenges: a 401 reply carries the
// input as its WWW-Authenticate line; the first byte picks the scheme and
// the method, the text up to the first 0xFF is the user name. Whatever the
// challenge and the user name, the result is empty or exactly one header line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rtsp/Base64.h"
#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/RTSPAuthorization.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = text.find('\xFF');
    dravnel::CRTSPResponseParser parser;
    parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: " +
                     text.substr(cut == std::string::npos ? 0 : cut + 1) + "\r\n\r\n",
                 dravnel::RTSPMethod::Describe);

    dravnel::AuthorizationInputs in;
    in.scheme = static_cast<dravnel::AuthScheme>(data[0] % 3);
    in.userName = cut == std::string::npos ? "admin" : text.substr(0, cut);
    in.password = "secret";
    in.realm = parser.realm;
    in.nonce = parser.nonce;
    in.algorithm = parser.algorithm;
    in.qop = parser.qop;
    in.opaque = parser.opaque;
    in.cnonce = "0a4f113b";
    const auto method = static_cast<dravnel::RTSPMethod>(data[0] / 3 % 8);
    const std::string line = dravnel::BuildAuthorization(in, method, "rtsp://127.0.0.1:554/h264");
    if (!line.empty() && line.find_first_of("\r\n") != line.size() - 2) __builtin_trap();
    if (in.scheme == dravnel::AuthScheme::None && !line.empty()) __builtin_trap();

    // The line form decodes back to its input within the limit.
    if (text.size() <= 256 &&
        dravnel::Base64Decode(dravnel::Base64EncodeLine(text), 256) != std::vector<uint8_t>(text.begin(), text.end()))
        __builtin_trap();
    char mime[512];
    if (dravnel::Base64Encode(data, size, mime, sizeof mime) != (dravnel::Base64EncodedSize(size) <= sizeof mime))
        __builtin_trap();
    return 0;
}
