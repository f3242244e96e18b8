#include "sim/web/HttpAuthenticator.h"

#include <openssl/evp.h>

#include <cstdio>

#include "platform/Process.h"
#include "web/AuthChallenge.h"
#include "web/HUtils.h"

namespace dravnel::sim {

namespace {

constexpr size_t kRememberedNonces = 4096;

std::string RandomHex(size_t words) {
    std::string out;
    char part[9];
    for (size_t i = 0; i < words; ++i) {
        std::snprintf(part, sizeof part, "%08x", platform::RandomU32());
        out += part;
    }
    return out;
}

// nc: exactly eight hex digits.
bool ParseNonceCount(std::string_view text, uint32_t& value) {
    if (text.size() != 8) return false;
    value = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        value = value << 4 | digit;
    }
    return true;
}

}  // namespace

void HttpAuthenticator::Configure(WebAuth mode, std::string user, std::string password) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
    user_ = std::move(user);
    password_ = std::move(password);
    if (opaque_.empty()) opaque_ = RandomHex(4);
}

void HttpAuthenticator::SetRealm(std::string realm) {
    std::lock_guard<std::mutex> lock(mutex_);
    realm_ = std::move(realm);
}

void HttpAuthenticator::SetFixedNonce(std::string nonce) {
    std::lock_guard<std::mutex> lock(mutex_);
    fixedNonce_ = std::move(nonce);
}

std::string HttpAuthenticator::Md5Hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 0xF]);
    }
    return out;
}

std::string HttpAuthenticator::IssueNonce() {
    std::string nonce = fixedNonce_.empty() ? RandomHex(4) : fixedNonce_;
    if (nonceCounts_.emplace(nonce, 0).second) {
        nonceOrder_.push_back(nonce);
        if (nonceOrder_.size() > kRememberedNonces) {
            nonceCounts_.erase(nonceOrder_.front());
            nonceOrder_.pop_front();
        }
    }
    return nonce;
}

std::vector<std::string> HttpAuthenticator::Challenges() {
    if (mode_ == WebAuth::Basic) return {"Basic realm=\"" + realm_ + "\""};
    return {"Digest realm=\"" + realm_ + "\", qop=\"auth\", algorithm=MD5, nonce=\"" + IssueNonce() + "\", opaque=\"" +
            opaque_ + "\""};
}

bool HttpAuthenticator::CheckBasic(std::string_view token68) const {
    // Padded base64 of "user:password" (RFC 7617). OpenSSL counts the
    // padding as zero bytes of the result.
    if (token68.empty() || token68.size() % 4 != 0) return false;
    std::string pair(token68.size() / 4 * 3, '\0');
    const int length =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(pair.data()),
                        reinterpret_cast<const unsigned char*>(token68.data()), static_cast<int>(token68.size()));
    const size_t padding = token68.ends_with("==") ? 2 : token68.ends_with('=') ? 1 : 0;
    if (length < 0 || static_cast<size_t>(length) < padding) return false;
    pair.resize(static_cast<size_t>(length) - padding);
    return pair == user_ + ":" + password_;
}

bool HttpAuthenticator::CheckDigest(std::string_view method, std::string_view target, std::string_view authorization) {
    const auto parsed = Web::ParseAuthChallenges(authorization);
    if (parsed.empty()) return false;
    const Web::AuthChallenge& c = parsed.front();
    const std::string nonce = c.Param("nonce");
    const std::string algorithm = c.Param("algorithm");
    const std::string opaque = c.Param("opaque");
    if (c.Param("username") != user_ || c.Param("realm") != realm_ || c.Param("uri") != target) return false;
    if (!algorithm.empty() && dravnel::HUtils::ToUpper(algorithm) != "MD5") return false;
    if (!opaque.empty() && opaque != opaque_) return false;
    const auto known = nonceCounts_.find(nonce);
    if (known == nonceCounts_.end()) return false;

    const std::string ha1 = Md5Hex(user_ + ":" + realm_ + ":" + password_);
    const std::string ha2 = Md5Hex(std::string(method) + ":" + std::string(target));
    const std::string qop = c.Param("qop");
    std::string expected;
    uint32_t count = 0;
    if (qop.empty()) {
        expected = Md5Hex(ha1 + ":" + nonce + ":" + ha2);  // RFC 2069
    } else {
        const std::string nc = c.Param("nc");
        const std::string cnonce = c.Param("cnonce");
        if (qop != "auth" || cnonce.empty() || !ParseNonceCount(nc, count) || count <= known->second) return false;
        expected = Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
    }
    if (dravnel::HUtils::ToLower(c.Param("response")) != expected) return false;
    if (!qop.empty()) known->second = count;
    return true;
}

HttpAuthenticator::Verdict HttpAuthenticator::Check(std::string_view method, std::string_view target,
                                                    std::string_view authorization) {
    Verdict verdict;
    const auto presented = Web::ParseAuthChallenges(authorization);
    if (!presented.empty()) verdict.scheme = presented.front().scheme;
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == WebAuth::None) {
        verdict.granted = true;
        return verdict;
    }
    const std::string scheme = dravnel::HUtils::ToLower(verdict.scheme);
    if (mode_ == WebAuth::Basic && scheme == "basic")
        verdict.granted = CheckBasic(presented.front().token68);
    else if (mode_ == WebAuth::Digest && scheme == "digest")
        verdict.granted = CheckDigest(method, target, authorization);
    if (!verdict.granted) verdict.challenges = Challenges();
    return verdict;
}

}  // namespace dravnel::sim
