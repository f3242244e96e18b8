#include "platform/WinInetTransfer.h"

#include <algorithm>

#include "platform/Clock.h"

namespace dravnel::platform {

namespace {

DWORD Timeout(uint32_t ms) { return ms > 0x7FFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(ms); }

bool SetTimeout(HINTERNET handle, DWORD option, uint32_t ms) {
    DWORD value = Timeout(ms);
    return InternetSetOptionW(handle, option, &value, sizeof value) != FALSE;
}

}  // namespace

WinInetTransfer::WinInetTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs)
    : userAgent_(WidenAnsi(userAgent)), connectTimeoutMs_(connectTimeoutMs), idleTimeoutMs_(idleTimeoutMs) {
    OpenSession();
}

WinInetTransfer::~WinInetTransfer() {
    CloseRequest();
    CloseSession();
}

bool WinInetTransfer::OpenSession() {
    session_ = InternetOpenW(userAgent_.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (session_ && SetTimeout(session_, INTERNET_OPTION_RECEIVE_TIMEOUT, idleTimeoutMs_) &&
        SetTimeout(session_, INTERNET_OPTION_SEND_TIMEOUT, idleTimeoutMs_) &&
        SetTimeout(session_, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs_))
        return true;
    lastError_ = static_cast<int>(GetLastError());
    CloseSession();
    return false;
}

void WinInetTransfer::CloseSession() {
    if (connection_) InternetCloseHandle(connection_);
    connection_ = nullptr;
    connectedKey_.clear();
    if (session_) InternetCloseHandle(session_);
    session_ = nullptr;
}

void WinInetTransfer::SignalClose() {
    ++closeCount_;
    std::lock_guard<std::mutex> lock(requestMutex_);
    if (request_) {
        InternetCloseHandle(request_);
        request_ = nullptr;
    }
}

HINTERNET WinInetTransfer::Request() const {
    std::lock_guard<std::mutex> lock(requestMutex_);
    return request_;
}

HttpResult WinInetTransfer::Failure() {
    const DWORD error = GetLastError();
    if (Aborted() || error == ERROR_INTERNET_OPERATION_CANCELLED || error == ERROR_INVALID_HANDLE ||
        error == ERROR_INTERNET_INVALID_OPERATION) {
        CloseRequest();
        return HttpResult::Aborted;
    }
    lastError_ = static_cast<int>(error);
    CloseRequest();
    // Wine reports a receive time-out as a reset connection or as the
    // socket's own time-out.
    const bool timedOut = error == ERROR_INTERNET_TIMEOUT || error == WSAETIMEDOUT ||
                          (error == ERROR_INTERNET_CONNECTION_ABORTED && MonotonicMs() - callStart_ >= idleTimeoutMs_);
    return timedOut ? HttpResult::Timeout : HttpResult::Failed;
}

bool WinInetTransfer::Connect(const HttpTransferSpec& spec) {
    const bool credentials = spec.authSchemes != 0 && !spec.userName.empty();
    // The credentials belong to the connection: other ones need another.
    std::string key = spec.host + ':' + std::to_string(spec.port);
    if (credentials) key += '\n' + spec.userName + '\n' + spec.password;
    if (connection_ && key == connectedKey_) return true;
    if (connection_) InternetCloseHandle(connection_);
    connectedKey_.clear();
    connection_ = InternetConnectW(
        session_, WidenAnsi(spec.host).c_str(), spec.port, credentials ? WidenAnsi(spec.userName).c_str() : nullptr,
        credentials ? WidenAnsi(spec.password).c_str() : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection_) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    connectedKey_ = std::move(key);
    return true;
}

HttpResult WinInetTransfer::Open(const HttpTransferSpec& spec, uint32_t epoch) {
    CloseRequest();
    requestEpoch_ = epoch;
    ResetResponse();
    if (!Valid() || spec.method.empty() || spec.target.empty()) return HttpResult::Failed;
    if (Aborted()) return HttpResult::Aborted;
    if (!Connect(spec)) return HttpResult::Failed;

    DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD;
    if (spec.secure) flags |= INTERNET_FLAG_SECURE;
    if (spec.secure && spec.ignoreCertErrors)
        flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    if (!spec.followRedirects) flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (spec.authSchemes == 0) flags |= INTERNET_FLAG_NO_AUTH;
    const wchar_t* accept[] = {L"*/*", nullptr};
    HINTERNET request = HttpOpenRequestW(connection_, WidenAnsi(spec.method).c_str(), WidenAnsi(spec.target).c_str(),
                                         nullptr, nullptr, accept, flags, 0);
    if (!request) {
        lastError_ = static_cast<int>(GetLastError());
        return HttpResult::Failed;
    }
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        request_ = request;
    }
    // A Close between the epoch and the handle found nothing to close.
    if (Aborted()) {
        CloseRequest();
        return HttpResult::Aborted;
    }
    open_ = true;
    // Wine's requests take no time-outs from their session: set them here too.
    SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, idleTimeoutMs_);
    SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, idleTimeoutMs_);
    SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs_);

    if (spec.secure && spec.ignoreCertErrors) {
        DWORD security = 0;
        DWORD size = sizeof security;
        InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
        security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_WRONG_USAGE;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    for (const std::string& header : spec.headers) {
        const std::wstring wide = WidenAnsi(header);
        HttpAddRequestHeadersW(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                               HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    }
    void* body = spec.body.empty() ? nullptr : const_cast<uint8_t*>(spec.body.data());
    const HINTERNET h = Request();
    callStart_ = MonotonicMs();
    if (!h || !HttpSendRequestW(h, nullptr, 0, body, static_cast<DWORD>(spec.body.size()))) return Failure();
    if (spec.returnAfterSend) {
        noHead_ = true;
        return HttpResult::Ok;
    }
    ReadHead(h);
    return HttpResult::Ok;
}

void WinInetTransfer::ReadHead(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    status_ =
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ? status : 0;
    DWORD bytes = 0;
    HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &bytes, nullptr);
    if (bytes == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    std::wstring raw(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &bytes, nullptr)) return;
    raw.resize(bytes / sizeof(wchar_t));
    TakeRawHead(NarrowAnsi(raw));
}

HttpResult WinInetTransfer::WaitBody() {
    if (Aborted()) {
        CloseRequest();
        return HttpResult::Aborted;
    }
    if (!open_.load()) return HttpResult::Failed;
    if (Buffered() > 0) return HttpResult::Ok;
    if (done_) return HttpResult::End;
    const HINTERNET h = Request();
    if (!h) return Failure();
    DWORD available = 0;
    callStart_ = MonotonicMs();
    if (!InternetQueryDataAvailable(h, &available, 0, 0)) return Failure();
    if (available == 0) {
        done_ = true;
        return HttpResult::End;
    }
    const size_t want = std::min<size_t>(available, kReadChunk);
    DWORD got = 0;
    callStart_ = MonotonicMs();
    const bool read = InternetReadFile(h, Reserve(want), static_cast<DWORD>(want), &got);
    Commit(read ? got : 0);
    if (!read) return Failure();
    if (got == 0) {
        done_ = true;
        return HttpResult::End;
    }
    return HttpResult::Ok;
}

void WinInetTransfer::CloseRequest() {
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        if (request_) InternetCloseHandle(request_);
        request_ = nullptr;
    }
    open_ = false;
    ClearBody();
}

void WinInetTransfer::DropConnections() {
    CloseRequest();
    // Kept connections live in the session's pool: a new session connects anew.
    CloseSession();
    OpenSession();
}

std::unique_ptr<WinTransfer> MakeWinInetTransfer(std::string userAgent, uint32_t connectTimeoutMs,
                                                 uint32_t idleTimeoutMs) {
    return std::make_unique<WinInetTransfer>(std::move(userAgent), connectTimeoutMs, idleTimeoutMs);
}

}  // namespace dravnel::platform
