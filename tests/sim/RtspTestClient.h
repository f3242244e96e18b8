// A small blocking RTSP client for the simulator's tests: builds requests by
// hand, so a test controls every header (an RFC 2069 Digest line, a bare
// Transport), reads replies and interleaved frames, and notices a closed
// connection. Not driver code; it shares nothing with the driver's client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Socket.h"

namespace quarnel::test {

struct RtspReply {
    unsigned status = 0;
    std::string head;  // status line and headers
    std::string body;
    // The value of the first header of that name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
};

struct InterleavedFrame {
    uint8_t channel = 0;
    std::vector<uint8_t> data;
};

class RtspTestClient {
public:
    bool Connect(uint16_t port);
    void Close() { socket_.Close(); }

    // Sends "<method> <url> RTSP/1.0", a CSeq line, then `headers` (complete
    // lines ending in CR LF), and waits for the reply; interleaved frames met
    // on the way are counted and dropped. nullopt on time-out or close.
    std::optional<RtspReply> Request(const std::string& method, const std::string& url,
                                     const std::string& headers = {}, uint32_t timeoutMs = 5000);
    std::optional<InterleavedFrame> ReadInterleaved(uint32_t timeoutMs);
    // True when the server closes the connection within the time-out.
    bool WaitClosed(uint32_t timeoutMs);
    size_t FramesSkipped() const { return framesSkipped_; }

private:
    enum class Item { Reply, Frame, Closed, Timeout };
    Item ReadItem(uint32_t timeoutMs, RtspReply* reply, InterleavedFrame* frame);
    // Cuts one complete item from buffer_, if there is one.
    std::optional<Item> TakeItem(RtspReply* reply, InterleavedFrame* frame);

    platform::Socket socket_;
    std::string buffer_;
    unsigned cseq_ = 0;
    size_t framesSkipped_ = 0;
};

// RFC 1321 MD5 of the text as 32 lower-case hex digits (OpenSSL).
std::string Md5Hex(const std::string& text);
// "Authorization: Digest ..." in the RFC 2069 form (no qop), with CR LF.
std::string DigestAuthorization(const std::string& user, const std::string& realm,
                                const std::string& password, const std::string& method,
                                const std::string& uri, const std::string& nonce);
// A quoted parameter of a WWW-Authenticate value: realm, nonce.
std::string ChallengeParameter(const std::string& challenge, const std::string& name);

}  // namespace quarnel::test
