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

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/WinTransfer.h"

namespace dravnel::platform {

class WinHttpTransfer final : public WinTransfer {
public:
    WinHttpTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs);
    ~WinHttpTransfer() override;
    WinHttpTransfer(const WinHttpTransfer&) = delete;
    WinHttpTransfer& operator=(const WinHttpTransfer&) = delete;

    bool Valid() const override { return session_ != nullptr; }
    void SignalClose() override;
    HttpResult Open(const HttpTransferSpec& spec, uint32_t epoch) override;
    HttpResult WaitBody() override;
    void CloseRequest() override;
    void DropConnections() override;

private:
    bool OpenSession();
    HttpResult Failure();
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

    // Guards request_ between the owner and SignalClose.
    mutable std::mutex requestMutex_;
    HINTERNET request_ = nullptr;
};

}  // namespace dravnel::platform
