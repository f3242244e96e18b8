#include "platform/HttpClient.h"

#ifdef _WIN32
#include "platform/WinTransfer.h"
#else
#include "platform/CurlTransfer.h"
#endif

namespace dravnel::platform {

namespace {

std::unique_ptr<HttpTransfer> MakeTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs,
                                           [[maybe_unused]] HttpApi api) {
#ifdef _WIN32
    if (api == HttpApi::WinInet) return MakeWinInetTransfer(std::move(userAgent), connectTimeoutMs, idleTimeoutMs);
    return MakeWinHttpTransfer(std::move(userAgent), connectTimeoutMs, idleTimeoutMs);
#else
    return std::make_unique<CurlTransfer>(std::move(userAgent), connectTimeoutMs, idleTimeoutMs);
#endif
}

}  // namespace

HttpClient::HttpClient(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs, HttpApi api)
    : t_(MakeTransfer(std::move(userAgent), connectTimeoutMs, idleTimeoutMs, api)) {}

HttpClient::~HttpClient() {
    std::lock_guard<std::mutex> lock(owner_);
    t_.reset();
}

bool HttpClient::Valid() const { return t_->Valid(); }

int HttpClient::LastError() const { return t_->LastError(); }

bool HttpClient::RequestOpen() const { return t_->RequestOpen(); }

HttpResult HttpClient::Open(const HttpTransferSpec& spec) {
    // A Close from here on, even one before the lock is ours, ends this request.
    const uint32_t epoch = t_->CloseCount();
    statusCode_ = 0;
    contentLength_.reset();
    // Read after the epoch: a Cancel that this misses closes with a later count.
    if (cancelled_.load()) return HttpResult::Aborted;
    std::lock_guard<std::mutex> lock(owner_);
    const HttpResult r = t_->Open(spec, epoch);
    if (r == HttpResult::Ok) {
        statusCode_ = t_->Status();
        contentLength_ = t_->ContentLength();
    }
    return r;
}

std::vector<std::string> HttpClient::HeaderValues(std::string_view name) const { return t_->HeaderValues(name); }

HttpResult HttpClient::WaitAvailable(size_t& available) {
    std::lock_guard<std::mutex> lock(owner_);
    const HttpResult r = t_->WaitBody();
    available = r == HttpResult::Ok ? t_->Buffered() : 0;
    return r;
}

HttpResult HttpClient::Read(std::vector<uint8_t>& out, size_t maxBytes, size_t& appended) {
    std::lock_guard<std::mutex> lock(owner_);
    const HttpResult r = t_->WaitBody();
    appended = r == HttpResult::Ok ? t_->Take(out, maxBytes) : 0;
    return r;
}

void HttpClient::Close() {
    t_->SignalClose();
    std::unique_lock<std::mutex> lock(owner_, std::try_to_lock);
    if (lock.owns_lock()) t_->CloseRequest();
}

void HttpClient::Cancel() {
    cancelled_.store(true);
    Close();
}

void HttpClient::Resume() { cancelled_.store(false); }

void HttpClient::DropConnections() {
    std::lock_guard<std::mutex> lock(owner_);
    t_->DropConnections();
}

}  // namespace dravnel::platform
