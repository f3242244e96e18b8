#include "tests/sim/RtspTestClient.h"

#include <openssl/evp.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace quarnel::test {

namespace {

std::chrono::steady_clock::time_point After(uint32_t timeoutMs) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// RFC 1321 MD5 of the text as 32 lower-case hex digits (OpenSSL).
std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace

std::string RtspReply::Header(const std::string& name) const {
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        size_t start = pos + 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t colon = line.find(':');
        if (colon == name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            size_t value = line.find_first_not_of(' ', colon + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        pos = end;
    }
    return {};
}

bool RtspTestClient::Connect(uint16_t port) {
    buffer_.clear();
    cseq_ = 0;
    return socket_.Create(platform::Socket::Kind::Tcp) && socket_.Connect(htonl(INADDR_LOOPBACK), port, 50);
}

std::optional<RtspReply> RtspTestClient::Request(const std::string& method, const std::string& url,
                                                 const std::string& headers, uint32_t timeoutMs) {
    const std::string text = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\n" +
                             headers + "\r\n";
    RtspReply reply;
    if (!socket_.SendAll(text) || Next(timeoutMs, reply) != Status::Reply) return std::nullopt;
    return reply;
}

bool RtspTestClient::WaitClosed(uint32_t timeoutMs) {
    RtspReply ignored;
    const auto deadline = After(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        const Status status = Next(static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)), ignored);
        if (status != Status::Reply) return status == Status::Closed;
    }
}

RtspTestClient::Status RtspTestClient::Next(uint32_t timeoutMs, RtspReply& reply) {
    const auto deadline = After(timeoutMs);
    for (;;) {
        if (Take(reply)) return Status::Reply;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) return Status::Timeout;
        const auto ready = socket_.WaitReadable(static_cast<uint32_t>(left.count()));
        if (ready == platform::IoStatus::Timeout) return Status::Timeout;
        uint8_t chunk[8192];
        const auto got = ready == platform::IoStatus::Ok ? socket_.Receive(chunk) : platform::IoResult{ready, 0};
        if (got.status != platform::IoStatus::Ok) return Status::Closed;
        buffer_.append(reinterpret_cast<const char*>(chunk), got.bytes);
    }
}

bool RtspTestClient::Take(RtspReply& reply) {
    const size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    reply.head = buffer_.substr(0, end + 2);
    const size_t length = std::strtoul(reply.Header("Content-Length").c_str(), nullptr, 10);
    if (buffer_.size() < end + 4 + length) return false;
    reply.body = buffer_.substr(end + 4, length);
    reply.status = 0;
    std::sscanf(reply.head.c_str(), "RTSP/1.0 %u", &reply.status);
    buffer_.erase(0, end + 4 + length);
    return true;
}

std::string DigestAuthorization(const std::string& user, const std::string& realm,
                                const std::string& password, const std::string& method,
                                const std::string& uri, const std::string& nonce) {
    const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    const std::string response = Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return "Authorization: Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
}

std::string ChallengeParameter(const std::string& challenge, const std::string& name) {
    const size_t pos = challenge.find(name + "=\"");
    if (pos == std::string::npos) return {};
    const size_t start = pos + name.size() + 2;
    const size_t end = challenge.find('"', start);
    return end == std::string::npos ? std::string() : challenge.substr(start, end - start);
}

}  // namespace quarnel::test
