#include "rtsp/RTSPAuthorization.h"

#include <cstdio>

#include "rtsp/Base64.h"
#include "rtsp/Md5.h"
#include "rtsp/Sha256.h"
#include "web/HUtils.h"

namespace dravnel {

namespace {

struct Algorithm {
    bool known = false;
    bool sha256 = false;
    bool session = false;
};

Algorithm AlgorithmOf(const std::string& name) {
    const std::string lower = HUtils::ToLower(name);
    if (lower.empty() || lower == "md5") return {true, false, false};
    if (lower == "md5-sess") return {true, false, true};
    if (lower == "sha-256") return {true, true, false};
    if (lower == "sha-256-sess") return {true, true, true};
    return {};
}

// A quoted-string (RFC 7230 section 3.2.6): '"' and '\' escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

std::string DigestResponse(const AuthorizationInputs& in, std::string_view methodName, const std::string& uri) {
    const Algorithm algorithm = AlgorithmOf(in.algorithm);
    if (!algorithm.known) return {};
    const auto h = [&](const std::string& text) { return algorithm.sha256 ? Sha256Hex(text) : Md5Hex(text); };
    const bool qop = !in.qop.empty();
    std::string ha1 = h(in.userName + ":" + in.realm + ":" + in.password);
    if (algorithm.session && qop) ha1 = h(ha1 + ":" + in.nonce + ":" + in.cnonce);
    const std::string ha2 = h(std::string(methodName) + ":" + uri);
    if (!qop) return h(ha1 + ":" + in.nonce + ":" + ha2);
    char nc[9];
    std::snprintf(nc, sizeof nc, "%08x", in.nonceCount);
    return h(ha1 + ":" + in.nonce + ":" + nc + ":" + in.cnonce + ":" + in.qop + ":" + ha2);
}

std::string BuildAuthorization(const AuthorizationInputs& in, RTSPMethod method, const std::string& uri) {
    switch (in.scheme) {
    case AuthScheme::Basic:
        // One unbroken line whatever the length: a MIME line break inside
        // the credential would end the header early.
        return "Authorization: Basic " + Base64EncodeLine(in.userName + ":" + in.password) + "\r\n";
    case AuthScheme::Digest: {
        if (in.realm.empty() || in.nonce.empty() || in.userName.empty() || in.password.empty() || uri.empty())
            return {};
        if (HasControlCharacter(in.userName) || (!in.qop.empty() && in.cnonce.empty())) return {};
        // An algorithm this client cannot compute is answered as MD5, as
        // before challenges named one; the device judges the result.
        AuthorizationInputs inputs = in;
        if (!AlgorithmOf(inputs.algorithm).known) inputs.algorithm.clear();
        std::string line = "Authorization: Digest username=" + Quoted(in.userName) + ", realm=\"" + in.realm +
                           "\", nonce=\"" + in.nonce + "\", uri=\"" + uri + "\", response=\"" +
                           DigestResponse(inputs, MethodName(method), uri) + "\"";
        if (!inputs.algorithm.empty() && HUtils::ToLower(inputs.algorithm) != "md5")
            line += ", algorithm=" + inputs.algorithm;
        if (!inputs.qop.empty()) {
            char nc[9];
            std::snprintf(nc, sizeof nc, "%08x", inputs.nonceCount);
            line += ", qop=" + inputs.qop + ", nc=" + nc + ", cnonce=" + Quoted(inputs.cnonce);
        }
        if (!in.opaque.empty()) line += ", opaque=" + Quoted(in.opaque);
        return line + "\r\n";
    }
    case AuthScheme::None:
        break;
    }
    return {};
}

}  // namespace dravnel
