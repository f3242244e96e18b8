// The WinHTTP side of HttpClient on Windows: a session (whose pool keeps the
// connections), a connection handle per server and one request handle at a
// time, all synchronous.
//
// Time-outs: name resolution and connecting get the connect time-out, sending
// and each receive the idle time-out. Credentials: Basic alone goes with the
// first request; any other choice sends the first request without them and
// answers a 401 once, with the strongest scheme the server offers among those
// allowed (WinHttpQueryAuthSchemes, WinHttpSetCredentials). The body is read
// in chunks of what WinHttpQueryDataAvailable reports, 8192 bytes at most, so
// that a long-lived reply never makes a read wait for more than it has.
//
// Thread-safety: none of its own; HttpClient serialises every call. Only
// SignalClose may be called from any thread: it closes the request handle,
// which makes a pending WinHTTP call of the owner fail at once.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpClient.h"

namespace platform {

class WinHttpTransfer {
public:
    WinHttpTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs);
    ~WinHttpTransfer();
    WinHttpTransfer(const WinHttpTransfer&) = delete;
    WinHttpTransfer& operator=(const WinHttpTransfer&) = delete;

    bool Valid() const { return session_ != nullptr; }
    // The Windows error code of the failed set-up or of the last failed call.
    int LastError() const { return lastError_.load(); }

    void SignalClose();
    uint32_t CloseCount() const { return closeCount_.load(); }

    HttpResult Open(const HttpTransferSpec& spec, uint32_t epoch);
    bool RequestOpen() const { return open_.load(); }
    uint32_t Status() const { return noHead_ ? 0 : status_; }
    std::optional<uint64_t> ContentLength() const { return contentLength_; }
    std::vector<std::string> HeaderValues(std::string_view name) const;

    HttpResult WaitBody();
    size_t Buffered() const { return buffer_.size() - readPos_; }
    size_t Take(std::vector<uint8_t>& out, size_t maxBytes);

    void CloseRequest();
    void DropConnections();

private:
    bool OpenSession();
    HttpResult Failure();
    bool Aborted() const { return closeCount_.load() != requestEpoch_; }
    // The request handle unless a Close took it.
    HINTERNET Request() const;
    HttpResult SendAndReceive(const HttpTransferSpec& spec);
    void ReadHead();

    std::wstring userAgent_;
    uint32_t connectTimeoutMs_;
    uint32_t idleTimeoutMs_;
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    std::string connectedHost_;
    uint16_t connectedPort_ = 0;
    std::atomic<int> lastError_{0};

    std::atomic<uint32_t> closeCount_{0};
    uint32_t requestEpoch_ = 0;
    // Guards request_ between the owner and SignalClose.
    mutable std::mutex requestMutex_;
    HINTERNET request_ = nullptr;
    std::atomic<bool> open_{false};

    uint32_t status_ = 0;
    bool noHead_ = false;
    std::optional<uint64_t> contentLength_;
    std::vector<std::string> headerLines_;
    bool done_ = false;
    std::vector<uint8_t> buffer_;
    size_t readPos_ = 0;
};

}  // namespace platform
