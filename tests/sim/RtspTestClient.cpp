#include "tests/sim/RtspTestClient.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace quarnel::test {

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
    return socket_.Create(platform::Socket::Kind::Tcp) &&
           socket_.Connect(platform::ResolveIPv4("127.0.0.1").value(), port, 50);
}

std::optional<RtspReply> RtspTestClient::Request(const std::string& method, const std::string& url,
                                                 const std::string& headers, uint32_t timeoutMs) {
    std::string text = method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) + "\r\n" +
                       headers + "\r\n";
    if (!socket_.SendAll(text)) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        RtspReply reply;
        Item item = ReadItem(static_cast<uint32_t>(left.count()), &reply, nullptr);
        if (item == Item::Reply) return reply;
        if (item == Item::Frame) {
            ++framesSkipped_;
            continue;
        }
        return std::nullopt;
    }
}

std::optional<InterleavedFrame> RtspTestClient::ReadInterleaved(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        InterleavedFrame frame;
        Item item = ReadItem(static_cast<uint32_t>(left.count()), nullptr, &frame);
        if (item == Item::Frame) return frame;
        if (item != Item::Reply) return std::nullopt;
    }
}

bool RtspTestClient::WaitClosed(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        RtspReply reply;
        InterleavedFrame frame;
        Item item = ReadItem(static_cast<uint32_t>(left.count()), &reply, &frame);
        if (item == Item::Closed) return true;
        if (item == Item::Timeout) return false;
    }
}

RtspTestClient::Item RtspTestClient::ReadItem(uint32_t timeoutMs, RtspReply* reply, InterleavedFrame* frame) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto item = TakeItem(reply, frame)) return *item;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return Item::Timeout;
        auto ready = socket_.WaitReadable(static_cast<uint32_t>(left.count()));
        if (ready == platform::IoStatus::Timeout) return Item::Timeout;
        if (ready != platform::IoStatus::Ok) return Item::Closed;
        uint8_t chunk[8192];
        auto got = socket_.Receive(chunk);
        if (got.status != platform::IoStatus::Ok) return Item::Closed;
        buffer_.append(reinterpret_cast<const char*>(chunk), got.bytes);
    }
}

std::optional<RtspTestClient::Item> RtspTestClient::TakeItem(RtspReply* reply, InterleavedFrame* frame) {
    if (buffer_.empty()) return std::nullopt;
    if (buffer_[0] == '$') {
        // RFC 2326 10.12: '$', channel, 16-bit length, data.
        if (buffer_.size() < 4) return std::nullopt;
        size_t length = (static_cast<uint8_t>(buffer_[2]) << 8) | static_cast<uint8_t>(buffer_[3]);
        if (buffer_.size() < 4 + length) return std::nullopt;
        if (frame) {
            frame->channel = static_cast<uint8_t>(buffer_[1]);
            frame->data.assign(buffer_.begin() + 4, buffer_.begin() + 4 + static_cast<long>(length));
        }
        buffer_.erase(0, 4 + length);
        return Item::Frame;
    }
    size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    RtspReply parsed;
    parsed.head = buffer_.substr(0, end + 2);
    size_t length = std::strtoul(parsed.Header("Content-Length").c_str(), nullptr, 10);
    if (buffer_.size() < end + 4 + length) return std::nullopt;
    parsed.body = buffer_.substr(end + 4, length);
    unsigned status = 0;
    std::sscanf(parsed.head.c_str(), "RTSP/1.0 %u", &status);
    parsed.status = status;
    buffer_.erase(0, end + 4 + length);
    if (reply) *reply = std::move(parsed);
    return Item::Reply;
}

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

std::string DigestAuthorization(const std::string& user, const std::string& realm,
                                const std::string& password, const std::string& method,
                                const std::string& uri, const std::string& nonce) {
    std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
    std::string ha2 = Md5Hex(method + ":" + uri);
    std::string response = Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return "Authorization: Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
}

std::string ChallengeParameter(const std::string& challenge, const std::string& name) {
    size_t pos = challenge.find(name + "=\"");
    if (pos == std::string::npos) return {};
    size_t start = pos + name.size() + 2;
    size_t end = challenge.find('"', start);
    return end == std::string::npos ? std::string() : challenge.substr(start, end - start);
}

}  // namespace quarnel::test
