// The libcurl side of HttpClient: one easy handle, reused from request to
// request, on a multi handle of its own (whose connection cache keeps the
// connections), driven in a poll loop that a Close can wake.
//
// Body bytes land in a window of HttpClient::kWindow bytes (plus at most one
// libcurl chunk); a chunk that does not fit pauses the transfer until the
// caller has taken enough out.
//
// Thread-safety: none of its own. HttpClient serialises every call under its
// lock; only SignalClose may be called from any thread at any time.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpClient.h"
#include "platform/HttpHead.h"

namespace dravnel::platform {

class CurlTransfer {
public:
    CurlTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    bool Valid() const { return easy_ && multi_; }
    int LastError() const { return lastError_.load(); }

    // Any thread: aborts the request whose Open began before this call.
    void SignalClose();
    uint32_t CloseCount() const { return closeCount_.load(); }

    // Sends a new request and runs it until its head (or, with
    // returnAfterSend, until it is out). `epoch` is CloseCount() from before
    // the caller took its lock.
    HttpResult Open(const HttpTransferSpec& spec, uint32_t epoch);
    bool RequestOpen() const { return open_.load(); }
    uint32_t Status() const { return noHead_ ? 0 : head_.Status(); }
    std::optional<uint64_t> ContentLength() const { return contentLength_; }
    std::vector<std::string> HeaderValues(std::string_view name) const;

    // Runs the transfer until body bytes are buffered (Ok), the body ended
    // (End), or it fails, times out or is aborted.
    HttpResult WaitBody();
    size_t Buffered() const { return buffer_.size() - readPos_; }
    // Moves at most maxBytes buffered bytes to the end of `out`.
    size_t Take(std::vector<uint8_t>& out, size_t maxBytes);

    void CloseRequest();
    // Closes the request and every kept connection.
    void DropConnections();

private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    static size_t OnUpload(char* data, size_t size, size_t count, void* user);
    static int OnConnected(void* user, char*, char*, int, int);
    static int OnDebug(CURL*, curl_infotype type, char*, size_t, void* user);

    bool CreateMulti();
    CURLcode Configure(const HttpTransferSpec& spec);
    CURLcode SetHeaders(const std::vector<std::string>& headers, bool withBody);
    void CollectDone();
    void Resume();
    template <typename Ready>
    HttpResult Drive(Ready ready);

    bool Aborted() const { return closeCount_.load() != requestEpoch_; }
    void Touch();
    bool Sent() const { return headerOut_ && uploadSent_ >= upload_.size(); }

    // Set-up.
    std::string userAgent_;
    uint32_t connectTimeoutMs_;
    uint32_t idleTimeoutMs_;
    std::mutex multiMutex_;  // guards replacing multi_ against SignalClose
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    std::atomic<int> lastError_{0};

    // Every Close counts; a request is aborted once the count moved past
    // what it was when its Open began. curl_multi_wakeup wakes the poll.
    std::atomic<uint32_t> closeCount_{0};
    uint32_t requestEpoch_ = 0;
    std::atomic<bool> open_{false};  // the easy handle is in the multi handle

    // The current request.
    std::string url_;
    curl_slist* headerList_ = nullptr;
    std::vector<uint8_t> upload_;
    size_t uploadSent_ = 0;
    bool uploadShort_ = false;  // the announced length exceeds the body there is
    bool headerOut_ = false;
    HttpHead head_;
    bool noHead_ = false;  // returned once sent, before any head
    std::optional<uint64_t> contentLength_;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
    bool paused_ = false;
    std::vector<uint8_t> buffer_;
    size_t readPos_ = 0;
    uint32_t lastActivity_ = 0;
};

}  // namespace dravnel::platform
