#include "platform/WinHttpTransfer.h"

#include <algorithm>

#include "platform/HttpHead.h"

namespace dravnel::platform {

namespace {

// The session's connections per server.
constexpr DWORD kConnectionsPerServer = 16;

// The strongest of the offered schemes that the caller allows.
DWORD ChooseScheme(DWORD offered, uint32_t allowed) {
    for (const DWORD scheme :
         {static_cast<DWORD>(WINHTTP_AUTH_SCHEME_NEGOTIATE), static_cast<DWORD>(WINHTTP_AUTH_SCHEME_NTLM),
          static_cast<DWORD>(WINHTTP_AUTH_SCHEME_DIGEST), static_cast<DWORD>(WINHTTP_AUTH_SCHEME_BASIC)}) {
        if ((offered & scheme) && (allowed & scheme)) return scheme;
    }
    return 0;
}

int Timeout(uint32_t ms) { return ms > 0x7FFFFFFFu ? -1 : static_cast<int>(ms); }

}  // namespace

WinHttpTransfer::WinHttpTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs)
    : userAgent_(WidenAnsi(userAgent)), connectTimeoutMs_(connectTimeoutMs), idleTimeoutMs_(idleTimeoutMs) {
    OpenSession();
}

WinHttpTransfer::~WinHttpTransfer() {
    CloseRequest();
    if (connection_) WinHttpCloseHandle(connection_);
    if (session_) WinHttpCloseHandle(session_);
}

bool WinHttpTransfer::OpenSession() {
    session_ = WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session_) {
        lastError_ = static_cast<int>(GetLastError());
        return false;
    }
    WinHttpSetTimeouts(session_, Timeout(connectTimeoutMs_), Timeout(connectTimeoutMs_), Timeout(idleTimeoutMs_),
                       Timeout(idleTimeoutMs_));
    // The wait for a response head has a time-out of its own.
    DWORD receiveResponse = static_cast<DWORD>(Timeout(idleTimeoutMs_));
    WinHttpSetOption(session_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveResponse, sizeof receiveResponse);
    DWORD perServer = kConnectionsPerServer;
    WinHttpSetOption(session_, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &perServer, sizeof perServer);
    return true;
}

void WinHttpTransfer::SignalClose() {
    ++closeCount_;
    std::lock_guard<std::mutex> lock(requestMutex_);
    if (request_) {
        // A synchronous call of the owner on this handle fails at once.
        WinHttpCloseHandle(request_);
        request_ = nullptr;
    }
}

HINTERNET WinHttpTransfer::Request() const {
    std::lock_guard<std::mutex> lock(requestMutex_);
    return request_;
}

HttpResult WinHttpTransfer::Failure() {
    const DWORD error = GetLastError();
    if (Aborted() || error == ERROR_WINHTTP_OPERATION_CANCELLED || error == ERROR_INVALID_HANDLE) {
        CloseRequest();
        return HttpResult::Aborted;
    }
    lastError_ = static_cast<int>(error);
    CloseRequest();
    // Wine reports the socket's own time-out.
    return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT ? HttpResult::Timeout : HttpResult::Failed;
}

HttpResult WinHttpTransfer::Open(const HttpTransferSpec& spec, uint32_t epoch) {
    CloseRequest();
    requestEpoch_ = epoch;
    ResetResponse();
    if (!Valid()) return HttpResult::Failed;
    if (Aborted()) return HttpResult::Aborted;

    if (!connection_ || connectedHost_ != spec.host || connectedPort_ != spec.port) {
        if (connection_) WinHttpCloseHandle(connection_);
        connection_ = WinHttpConnect(session_, WidenAnsi(spec.host).c_str(), spec.port, 0);
        connectedHost_ = connection_ ? spec.host : std::string();
        connectedPort_ = connection_ ? spec.port : 0;
        if (!connection_) {
            lastError_ = static_cast<int>(GetLastError());
            return HttpResult::Failed;
        }
    }
    HINTERNET request =
        WinHttpOpenRequest(connection_, WidenAnsi(spec.method).c_str(), WidenAnsi(spec.target).c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, spec.secure ? WINHTTP_FLAG_SECURE : 0);
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

    if (!spec.followRedirects) {
        DWORD disable = WINHTTP_DISABLE_REDIRECTS;
        WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    }
    if (spec.ignoreCertErrors) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    for (const std::string& header : spec.headers) {
        const std::wstring wide = WidenAnsi(header);
        WinHttpAddRequestHeaders(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    const bool credentials = spec.authSchemes != 0 && !spec.userName.empty();
    if (credentials && spec.authSchemes == http_auth::kBasic) {
        WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                              WidenAnsi(spec.userName).c_str(), WidenAnsi(spec.password).c_str(), nullptr);
    }

    HttpResult r = SendAndReceive(spec);
    if (r != HttpResult::Ok || noHead_) return r;
    if (status_ == 401 && credentials && spec.authSchemes != http_auth::kBasic) {
        DWORD offered = 0, first = 0, target = 0;
        const HINTERNET h = Request();
        const DWORD scheme =
            h && WinHttpQueryAuthSchemes(h, &offered, &first, &target) ? ChooseScheme(offered, spec.authSchemes) : 0;
        if (scheme != 0 && WinHttpSetCredentials(h, target, scheme, WidenAnsi(spec.userName).c_str(),
                                                 WidenAnsi(spec.password).c_str(), nullptr)) {
            r = SendAndReceive(spec);
        }
    }
    return r;
}

HttpResult WinHttpTransfer::SendAndReceive(const HttpTransferSpec& spec) {
    const HINTERNET h = Request();
    if (!h) return Failure();
    const DWORD total = static_cast<DWORD>(std::max<uint64_t>(spec.totalLength, spec.body.size()));
    void* body = spec.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<uint8_t*>(spec.body.data());
    if (!WinHttpSendRequest(h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, static_cast<DWORD>(spec.body.size()), total, 0))
        return Failure();
    if (spec.returnAfterSend) {
        noHead_ = true;
        return HttpResult::Ok;
    }
    if (!WinHttpReceiveResponse(h, nullptr)) return Failure();
    ReadHead();
    return HttpResult::Ok;
}

void WinHttpTransfer::ReadHead() {
    TakeRawHead({});
    const HINTERNET h = Request();
    DWORD status = 0;
    DWORD size = sizeof status;
    status_ = h && WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)
                  ? status
                  : 0;
    DWORD bytes = 0;
    WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (bytes == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    std::wstring raw(bytes / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return;
    raw.resize(bytes / sizeof(wchar_t));
    TakeRawHead(NarrowAnsi(raw));
}

HttpResult WinHttpTransfer::WaitBody() {
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
    if (!WinHttpQueryDataAvailable(h, &available)) return Failure();
    if (available == 0) {
        done_ = true;
        return HttpResult::End;
    }
    const size_t want = std::min<size_t>(available, kReadChunk);
    DWORD got = 0;
    const bool read = WinHttpReadData(h, Reserve(want), static_cast<DWORD>(want), &got);
    Commit(read ? got : 0);
    if (!read) return Failure();
    if (got == 0) {
        done_ = true;
        return HttpResult::End;
    }
    return HttpResult::Ok;
}

void WinHttpTransfer::CloseRequest() {
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        if (request_) WinHttpCloseHandle(request_);
        request_ = nullptr;
    }
    open_ = false;
    ClearBody();
}

void WinHttpTransfer::DropConnections() {
    CloseRequest();
    // The pool belongs to the session: a new session connects anew.
    if (connection_) WinHttpCloseHandle(connection_);
    connection_ = nullptr;
    connectedHost_.clear();
    connectedPort_ = 0;
    if (session_) WinHttpCloseHandle(session_);
    session_ = nullptr;
    OpenSession();
}

std::unique_ptr<WinTransfer> MakeWinHttpTransfer(std::string userAgent, uint32_t connectTimeoutMs,
                                                 uint32_t idleTimeoutMs) {
    return std::make_unique<WinHttpTransfer>(std::move(userAgent), connectTimeoutMs, idleTimeoutMs);
}

}  // namespace dravnel::platform
