// One request to a device's web server, as the request functions build it:
// a plain value object that a sender reads.
//
// Thread-safety: a value; copies are independent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Web {

class CHttpRequest {
public:
    // flags
    static constexpr uint32_t kEscapeDisableQuery = 0x1;  // leave the query part as given
    static constexpr uint32_t kIgnoreCertErrors = 0x2;    // HTTPS: accept any server certificate
    static constexpr uint32_t kDisableRedirects = 0x4;
    static constexpr uint32_t kNoWaitForResponse = 0x8;  // return right after sending
    static constexpr uint32_t kDefaultFlags = kEscapeDisableQuery | kDisableRedirects;

    // authMode: bit 2 Negotiate, else bits 0 and 1 Digest, else bit 1
    // Passport, else bit 0 NTLM, 0 Basic; kAuthNone presents no credentials.
    static constexpr int32_t kAuthBasic = 0;
    static constexpr int32_t kAuthNone = 5;

    CHttpRequest(std::string verbText, std::string objectText)
        : verb(std::move(verbText)), object(std::move(objectText)) {}

    // The object as it goes on the request line. Bytes that cannot appear
    // there (controls, blanks, non-ASCII) and '#' are always %-escaped; with
    // escapePath (escapeQuery) the characters RFC 3986 leaves unsafe
    // ("<>\^`{|} and the double quote) are escaped in the path (query) too.
    // '%' is kept: the object may already be escaped.
    static std::string EscapeObject(std::string_view object, bool escapePath, bool escapeQuery);

    std::string verb;
    std::string object;  // path and query, e.g. "/video/video.php?app=get&ch=1&strm=1"
    int32_t secure = 0;  // 1 = HTTPS
    int32_t authMode = kAuthBasic;
    std::vector<uint8_t> body;
    uint32_t totalLength = 0;          // announced length of the body
    std::vector<std::string> headers;  // extra header lines
    uint32_t flags = kDefaultFlags;
};

}  // namespace Web
