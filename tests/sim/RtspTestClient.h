// A small blocking RTSP client for the simulator's tests: builds requests by
// hand, so a test controls every header (an RFC 2069 Digest line, a bare
// Transport), reads replies, and notices a closed connection. RTP goes over
// UDP: interleaved frames are not read. Not driver code; it shares nothing with the driver's client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Socket.h"

namespace quarnel::test {

struct RtspReply {
    unsigned status = 0;  // 0: no reply
    std::string head;     // status line and headers
    std::string body;
    // The value of the first header of that name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
};

class RtspTestClient {
public:
    bool Connect(uint16_t port);

    // Sends "<method> <url> RTSP/1.0", a CSeq line, then `headers` (complete
    // lines ending in CR LF), and waits for the reply. nullopt on time-out or
    // close.
    std::optional<RtspReply> Request(const std::string& method, const std::string& url,
                                     const std::string& headers = {}, uint32_t timeoutMs = 5000);
    // True when the server closes the connection within the time-out.
    bool WaitClosed(uint32_t timeoutMs);

private:
    enum class Status { Reply, Closed, Timeout };
    // Waits up to timeoutMs for the next reply.
    Status Next(uint32_t timeoutMs, RtspReply& reply);
    // Cuts one complete reply from buffer_, if there is one.
    bool Take(RtspReply& reply);

    platform::Socket socket_;
    std::string buffer_;
    unsigned cseq_ = 0;
};

// "Authorization: Digest ..." in the RFC 2069 form (no qop), with CR LF.
std::string DigestAuthorization(const std::string& user, const std::string& realm,
                                const std::string& password, const std::string& method,
                                const std::string& uri, const std::string& nonce);
// A quoted parameter of a WWW-Authenticate value: realm, nonce.
std::string ChallengeParameter(const std::string& challenge, const std::string& name);

}  // namespace quarnel::test
