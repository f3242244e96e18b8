// SHA-256 message digest (FIPS 180-4), for Digest authentication with
// algorithm=SHA-256 (RFC 7616).
//
// Thread-safety: pure function.
#pragma once

#include <string>
#include <string_view>

namespace dravnel {

// The digest of the text's bytes as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view text);

}  // namespace dravnel
