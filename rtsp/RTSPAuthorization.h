// The "Authorization" header line of one RTSP request.
//
// Basic (RFC 7617): base64 of "user:password" on one line, sent with every
// request from the first on. Digest, built only once a challenge has given
// realm and nonce. A plain challenge (realm and nonce alone) is answered in
// the RFC 2069 form of RFC 2617, without qop:
//   HA1 = MD5(user ":" realm ":" password)
//   HA2 = MD5(method ":" uri)
//   response = MD5(HA1 ":" nonce ":" HA2)
// A challenge that offers qop=auth is answered in kind (RFC 2617 section
// 3.2.2, RFC 7616 section 3.4.1), with H the challenge's algorithm (MD5 or
// SHA-256, each also in its "-sess" form):
//   HA1 = H(user ":" realm ":" password)          (-sess: H(HA1 ":" nonce ":" cnonce))
//   response = H(HA1 ":" nonce ":" nc ":" cnonce ":" "auth" ":" HA2)
// and the line carries qop, nc and cnonce; an algorithm other than MD5 and an
// opaque value are named in the line as the challenge gave them.
//
// User names are sent as quoted strings (a '"' or '\' is escaped); one with a
// control character (CR, LF, ...) cannot be, and gets no Digest line.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/RTSPTypes.h"

namespace dravnel {

struct AuthorizationInputs {
    AuthScheme scheme = AuthScheme::None;
    std::string userName;
    std::string password;
    std::string realm;  // from the last challenge, quotes removed
    std::string nonce;
    // Also from the last challenge; empty when it named none.
    std::string algorithm;  // "MD5", "SHA-256", "MD5-sess", ...; empty counts as MD5
    std::string qop;        // "auth" when the challenge offers it
    std::string opaque;
    // For qop: how many requests used this nonce, this one included, and the
    // client's nonce for this request.
    uint32_t nonceCount = 1;
    std::string cnonce;
};

// A complete header line ending in CR LF, or empty when the scheme is None
// or a Digest input (realm, nonce, user, password, uri; cnonce with qop) is
// empty or unusable.
std::string BuildAuthorization(const AuthorizationInputs& inputs, RTSPMethod method, const std::string& uri);

// The Digest "response" value for a request with this method name, in the
// form the inputs call for; empty for an algorithm that is neither MD5 nor
// SHA-256.
std::string DigestResponse(const AuthorizationInputs& inputs, std::string_view methodName, const std::string& uri);

}  // namespace dravnel
