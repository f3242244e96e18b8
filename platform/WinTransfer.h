// What the WinHTTP and the WinINet sides of HttpClient share on Windows: the
// operations HttpClient drives (those of the libcurl side elsewhere), the
// response head read from the raw header text the service hands over, and the
// body window that reads land in.
//
// Thread-safety: none of its own; HttpClient serialises every call. Only
// SignalClose may be called from any thread at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpClient.h"

namespace dravnel::platform {

class WinTransfer {
public:
    virtual ~WinTransfer() = default;

    virtual bool Valid() const = 0;
    // The Windows error code of the failed set-up or of the last failed call.
    int LastError() const { return lastError_.load(); }

    // Any thread: aborts the request whose Open began before this call.
    virtual void SignalClose() = 0;
    uint32_t CloseCount() const { return closeCount_.load(); }

    // Sends a new request and waits for its head (or, with returnAfterSend,
    // until it is out). `epoch` is CloseCount() from before the caller took
    // its lock.
    virtual HttpResult Open(const HttpTransferSpec& spec, uint32_t epoch) = 0;
    bool RequestOpen() const { return open_.load(); }
    uint32_t Status() const { return noHead_ ? 0 : status_; }
    std::optional<uint64_t> ContentLength() const { return contentLength_; }
    std::vector<std::string> HeaderValues(std::string_view name) const;

    // Reads until body bytes are buffered (Ok), the body ended (End), or it
    // fails, times out or is aborted.
    virtual HttpResult WaitBody() = 0;
    size_t Buffered() const { return buffer_.size() - readPos_; }
    size_t Take(std::vector<uint8_t>& out, size_t maxBytes);

    virtual void CloseRequest() = 0;
    virtual void DropConnections() = 0;

protected:
    // Reads at most this much per call, so that a long-lived reply never
    // makes a read wait for more than it has.
    static constexpr size_t kReadChunk = 8192;

    bool Aborted() const { return closeCount_.load() != requestEpoch_; }
    // Forgets the last response's head and body.
    void ResetResponse();
    // The header lines of raw head text ("HTTP/1.1 200 OK\r\nName: value\r\n..."),
    // and the "Content-Length" among them.
    void TakeRawHead(std::string_view text);
    // Room for `want` more bytes at the end of the window; Commit keeps `got` of them.
    uint8_t* Reserve(size_t want);
    void Commit(size_t got);
    void ClearBody();

    std::atomic<int> lastError_{0};
    std::atomic<uint32_t> closeCount_{0};
    uint32_t requestEpoch_ = 0;
    std::atomic<bool> open_{false};
    uint32_t status_ = 0;
    bool noHead_ = false;
    bool done_ = false;
    std::optional<uint64_t> contentLength_;

private:
    std::vector<std::string> headerLines_;
    std::vector<uint8_t> buffer_;
    size_t readPos_ = 0;
    size_t reserved_ = 0;
};

// The two backends; their headers cannot share a source file (winhttp.h and
// wininet.h declare the same names).
std::unique_ptr<WinTransfer> MakeWinHttpTransfer(std::string userAgent, uint32_t connectTimeoutMs,
                                                 uint32_t idleTimeoutMs);
std::unique_ptr<WinTransfer> MakeWinInetTransfer(std::string userAgent, uint32_t connectTimeoutMs,
                                                 uint32_t idleTimeoutMs);

// ANSI text widened and narrowed by the system's default code page.
std::wstring WidenAnsi(std::string_view text);
std::string NarrowAnsi(std::wstring_view text);

}  // namespace dravnel::platform
