// The "Authorization" header line of one RTSP request.
//
// Basic (RFC 7617): base64 of "user:password" on one line, sent with every
// request from the first on. Digest (RFC 2617 without qop, the RFC 2069 form):
//   HA1 = MD5(user ":" realm ":" password)
//   HA2 = MD5(method ":" uri)
//   response = MD5(HA1 ":" nonce ":" HA2)
// built only once a challenge has given realm and nonce.
//
// Thread-safety: pure function.
#pragma once

#include <string>

#include "rtsp/RTSPTypes.h"

namespace dravnel {

struct AuthorizationInputs {
    AuthScheme scheme = AuthScheme::None;
    std::string userName;
    std::string password;
    std::string realm;  // from the last challenge, quotes removed
    std::string nonce;
};

// A complete header line ending in CR LF, or empty when the scheme is None
// or a Digest input (realm, nonce, user, password, uri) is empty.
std::string BuildAuthorization(const AuthorizationInputs& inputs, RTSPMethod method, const std::string& uri);

}  // namespace dravnel
