// One HTTP/1.1 request at a time over libcurl (on Windows WinHTTP or WinINet), kept open after its response
// head so that the body can be pulled in small reads, for as long as the
// caller likes (a long-lived event stream included).
//
// The body is buffered in a small window: when the window is full the
// transfer is paused until the caller reads, so memory stays bounded however
// long the caller waits. Every blocking call waits for progress at most the
// idle time-out given at construction; there is no limit on the whole
// transfer.
//
// Connections are kept between requests (connection reuse, and with it the
// Digest state of the server) until DropConnections or destruction.
//
// Thread-safety: one owner thread calls everything but Close. Close may be
// called from any thread at any time: it ends a pending Open, Wait or Read of
// the owner within milliseconds. libcurl handles are only ever used by one
// thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel::platform {

#ifdef _WIN32
class WinTransfer;
using HttpTransfer = WinTransfer;
#else
class CurlTransfer;
using HttpTransfer = CurlTransfer;
#endif

// Authentication schemes, as bits (the values of the Windows HTTP services).
namespace http_auth {
constexpr uint32_t kBasic = 0x01;
constexpr uint32_t kNtlm = 0x02;
constexpr uint32_t kPassport = 0x04;
constexpr uint32_t kDigest = 0x08;
constexpr uint32_t kNegotiate = 0x10;
// Let the connection negotiate: the first request goes without credentials,
// the server's challenge picks the scheme.
constexpr uint32_t kAny = kBasic | kNtlm | kDigest | kNegotiate;
}  // namespace http_auth

// Which Windows HTTP service carries a client's requests; elsewhere libcurl
// carries them all.
enum class HttpApi { WinHttp, WinInet };

struct HttpTransferSpec {
    bool secure = false;
    std::string host;
    uint16_t port = 80;
    std::string method = "GET";
    std::string target;  // path and query as they go on the request line
    std::string userName;
    std::string password;
    uint32_t authSchemes = 0;          // http_auth bits; 0 presents no credentials
    std::vector<std::string> headers;  // "Name: value", replacing a default of that name
    std::vector<uint8_t> body;
    uint64_t totalLength = 0;  // announced body length; the larger of it and body.size() counts
    bool ignoreCertErrors = false;
    bool followRedirects = false;
    bool returnAfterSend = false;  // Open returns once the request is out, without a head
};

enum class HttpResult {
    Ok,
    End,      // the body is complete: nothing more to read
    Timeout,  // no progress within the idle time-out
    Aborted,  // Close was called
    Failed,   // connection, protocol or set-up error; the request is closed
};

class HttpClient {
public:
    // Body bytes buffered ahead of the caller (plus at most one chunk of
    // libcurl's); beyond them the transfer waits for the caller to read.
    static constexpr size_t kWindow = 64 * 1024;

    HttpClient(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs,
               HttpApi api = HttpApi::WinHttp);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // False when libcurl could not be set up; every call then fails.
    bool Valid() const;
    // The libcurl code of the failed set-up or of the last failed transfer.
    int LastError() const;

    // Closes any open request, sends a new one and waits for the response
    // head (or, with returnAfterSend, until the request is out). On Ok the
    // request stays open for reading.
    HttpResult Open(const HttpTransferSpec& spec);
    bool RequestOpen() const;

    // The head of the last response (zero and empty when there was none).
    uint32_t StatusCode() const { return statusCode_; }
    std::optional<uint64_t> ContentLength() const { return contentLength_; }
    // Values of every header of that name (case-insensitive), in order.
    std::vector<std::string> HeaderValues(std::string_view name) const;

    // Waits until body bytes are buffered; Ok with their count, End when the
    // body is complete. Nothing is consumed.
    HttpResult WaitAvailable(size_t& available);
    // Waits for body bytes and appends at most maxBytes of them to `out`.
    HttpResult Read(std::vector<uint8_t>& out, size_t maxBytes, size_t& appended);

    // Any thread: ends the open request, and a pending call of the owner.
    void Close();
    // Any thread: Close, and every later Open fails with Aborted until
    // Resume. Unlike Close, it also stops a request whose Open has not begun.
    void Cancel();
    void Resume();
    // Closes the request and every kept connection; the next Open connects anew.
    void DropConnections();

private:
    // Held by whichever thread drives the transfer; Close from a foreign
    // thread only tries it and otherwise leaves the closing to the holder.
    std::mutex owner_;
    std::atomic<bool> cancelled_{false};
    std::unique_ptr<HttpTransfer> t_;
    uint32_t statusCode_ = 0;
    std::optional<uint64_t> contentLength_;
};

}  // namespace dravnel::platform
