// Reading HTTP authentication headers (RFC 7235 section 2.1 and 4.1):
//
//   WWW-Authenticate: Digest realm="cam", qop="auth", nonce="4f1c", Basic realm="cam"
//                     \____/ \__________________________________/  \___/ \_________/
//                     scheme        auth-params of Digest          scheme   params
//
// One header value may carry several challenges, separated by commas like
// their parameters; a challenge starts at a token not followed by "=". A
// scheme may instead carry one token68 ("Negotiate YIIG..."). An
// Authorization value is read the same way, as one element.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Web {

struct AuthChallenge {
    std::string scheme;
    std::vector<std::pair<std::string, std::string>> params;  // unquoted values, in order
    std::string token68;

    // The value of the first parameter of that name (case-insensitive);
    // empty when there is none.
    std::string Param(std::string_view name) const;
};

// Every challenge of one header value, in order. Malformed parts are
// skipped; the result never holds an empty scheme.
std::vector<AuthChallenge> ParseAuthChallenges(std::string_view value);

// The scheme bit (dravnel::platform::http_auth) of a scheme name, case-insensitive;
// 0 for a scheme this driver does not know.
uint32_t AuthSchemeBit(std::string_view scheme);

// The server's preferred scheme: the first known scheme over all header
// values in order; 0 when none is offered.
uint32_t PreferredAuthScheme(const std::vector<std::string>& headerValues);

}  // namespace Web
