// The WinINet side of HttpClient on Windows, for the PTZ sender: a session
// (whose keep-alive pool keeps the connections), a connection handle that
// carries the device's credentials, and one request handle at a time, all
// synchronous.
//
// Time-outs: the session's receive, send and connect time-outs; connecting
// gets the connect time-out, sending and each receive the idle time-out.
// Credentials: when any scheme is allowed, the user name and password go with
// the connection, and WinINet answers a server's 401 with them in the scheme
// the server asks for; a 401 that still comes back is the caller's to see.
// The body is read in chunks of what InternetQueryDataAvailable reports,
// 8192 bytes at most. A request handle always waits for the response head:
// with returnAfterSend the head is read but not reported.
//
// Thread-safety: none of its own; HttpClient serialises every call. Only
// SignalClose may be called from any thread: under the lock that guards the
// request handle it closes the handle, which makes a pending WinINet call of
// the owner on it fail at once.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/WinTransfer.h"

namespace dravnel::platform {

class WinInetTransfer final : public WinTransfer {
public:
    WinInetTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs);
    ~WinInetTransfer() override;
    WinInetTransfer(const WinInetTransfer&) = delete;
    WinInetTransfer& operator=(const WinInetTransfer&) = delete;

    bool Valid() const override { return session_ != nullptr; }
    void SignalClose() override;
    HttpResult Open(const HttpTransferSpec& spec, uint32_t epoch) override;
    HttpResult WaitBody() override;
    void CloseRequest() override;
    void DropConnections() override;

private:
    bool OpenSession();
    void CloseSession();
    bool Connect(const HttpTransferSpec& spec);
    HttpResult Failure();
    HINTERNET Request() const;
    void ReadHead(HINTERNET request);

    std::wstring userAgent_;
    uint32_t connectTimeoutMs_;
    uint32_t idleTimeoutMs_;
    HINTERNET session_ = nullptr;
    HINTERNET connection_ = nullptr;
    // What the connection was made for: server and credentials.
    std::string connectedKey_;

    uint32_t callStart_ = 0;  // when the pending blocking call began

    mutable std::mutex requestMutex_;
    HINTERNET request_ = nullptr;
};

}  // namespace dravnel::platform
