#include "web/AuthChallenge.h"

#include "platform/HttpClient.h"
#include "web/HUtils.h"

namespace Web {

namespace {

bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool IsToken68Char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '+' || c == '/';
}

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    size_t Position() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos; }
    void Advance() { ++pos_; }

    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t')) ++pos_;
    }
    void SkipBlanksAndCommas() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == ',')) ++pos_;
    }
    std::string_view Token() {
        const size_t start = pos_;
        while (!AtEnd() && IsTokenChar(Peek())) ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // A quoted-string after its opening quote; an unterminated one runs to the end.
    std::string Quoted() {
        std::string out;
        while (!AtEnd()) {
            char c = text_[pos_++];
            if (c == '"') return out;
            if (c == '\\' && !AtEnd()) c = text_[pos_++];
            out.push_back(c);
        }
        return out;
    }
    // A token68 ending at a comma or the end (blanks allowed before them).
    bool Token68(std::string& out) {
        const size_t start = pos_;
        size_t end = pos_;
        while (end < text_.size() && IsToken68Char(text_[end])) ++end;
        if (end == start) return false;
        while (end < text_.size() && text_[end] == '=') ++end;
        size_t after = end;
        while (after < text_.size() && (text_[after] == ' ' || text_[after] == '\t')) ++after;
        if (after < text_.size() && text_[after] != ',') return false;
        out.assign(text_.substr(start, end - start));
        pos_ = after;
        return true;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::string AuthChallenge::Param(std::string_view name) const {
    const std::string wanted = dravnel::HUtils::ToLower(name);
    for (const auto& [key, value] : params)
        if (dravnel::HUtils::ToLower(key) == wanted) return value;
    return {};
}

std::vector<AuthChallenge> ParseAuthChallenges(std::string_view value) {
    std::vector<AuthChallenge> challenges;
    Cursor c(value);
    while (true) {
        c.SkipBlanksAndCommas();
        if (c.AtEnd()) break;
        const std::string_view name = c.Token();
        if (name.empty()) {
            c.Advance();  // not a token: skip the character
            continue;
        }
        const size_t afterName = c.Position();
        c.SkipBlanks();
        if (c.Peek() == '=') {
            // auth-param = token BWS "=" BWS ( token / quoted-string ); one
            // before any scheme belongs to nothing and is dropped.
            c.Advance();
            c.SkipBlanks();
            std::string paramValue;
            if (c.Peek() == '"') {
                c.Advance();
                paramValue = c.Quoted();
            } else {
                paramValue = std::string(c.Token());
            }
            if (!challenges.empty()) challenges.back().params.emplace_back(std::string(name), std::move(paramValue));
            continue;
        }
        AuthChallenge challenge;
        challenge.scheme = std::string(name);
        if (c.Position() > afterName) {
            // After "scheme SP": either one token68 or the auth-params that follow.
            const size_t mark = c.Position();
            if (!c.Token68(challenge.token68)) c.Seek(mark);
        }
        challenges.push_back(std::move(challenge));
    }
    return challenges;
}

uint32_t AuthSchemeBit(std::string_view scheme) {
    const std::string lower = dravnel::HUtils::ToLower(scheme);
    if (lower == "basic") return dravnel::platform::http_auth::kBasic;
    if (lower == "digest") return dravnel::platform::http_auth::kDigest;
    if (lower == "ntlm") return dravnel::platform::http_auth::kNtlm;
    if (lower == "negotiate") return dravnel::platform::http_auth::kNegotiate;
    if (lower == "passport1.4") return dravnel::platform::http_auth::kPassport;
    return 0;
}

uint32_t PreferredAuthScheme(const std::vector<std::string>& headerValues) {
    for (const std::string& value : headerValues)
        for (const AuthChallenge& challenge : ParseAuthChallenges(value))
            if (const uint32_t bit = AuthSchemeBit(challenge.scheme)) return bit;
    return 0;
}

}  // namespace Web
