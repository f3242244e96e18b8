// The simulated camera's HTTP authentication: none, Basic (RFC 7617) or
// Digest with MD5 (RFC 7616 with qop="auth", and the RFC 2069 form without
// qop that older clients send).
//
// Each challenge carries a fresh nonce; a nonce stays valid for the server's
// life (the last 4096 are remembered), and with qop its nonce count must grow
// from request to request, so a replayed Authorization is refused.
//
// Thread-safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel::sim {

enum class WebAuth { None, Basic, Digest };

class HttpAuthenticator {
public:
    struct Verdict {
        bool granted = false;
        std::string scheme;                   // the scheme the client presented, "" for none
        std::vector<std::string> challenges;  // WWW-Authenticate values of a refusal
    };

    void Configure(WebAuth mode, std::string user, std::string password);
    void SetRealm(std::string realm);
    // Every challenge then carries this nonce (to check published examples).
    void SetFixedNonce(std::string nonce);

    // Judges the Authorization value (empty when absent) of a request.
    Verdict Check(std::string_view method, std::string_view target, std::string_view authorization);

    static std::string Md5Hex(std::string_view data);

private:
    bool CheckBasic(std::string_view token68) const;
    bool CheckDigest(std::string_view method, std::string_view target, std::string_view authorization);
    std::string IssueNonce();
    std::vector<std::string> Challenges();

    mutable std::mutex mutex_;
    WebAuth mode_ = WebAuth::None;
    std::string user_;
    std::string password_;
    std::string realm_ = "Quarnel Camera";
    std::string fixedNonce_;
    std::string opaque_;
    std::map<std::string, uint32_t> nonceCounts_;  // nonce -> highest nc accepted
    std::deque<std::string> nonceOrder_;
};

}  // namespace dravnel::sim
