#include "platform/WinHttpTransfer.h"

#include <algorithm>

#include "platform/HttpHead.h"

namespace platform {

namespace {

constexpr size_t kReadChunk = 8192;
// The session's connections per server.
constexpr DWORD kConnectionsPerServer = 16;

// ANSI text widened by the system's default code page.
std::wstring Widen(std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

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
    : userAgent_(Widen(userAgent)), connectTimeoutMs_(connectTimeoutMs), idleTimeoutMs_(idleTimeoutMs) {
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
    return error == ERROR_WINHTTP_TIMEOUT ? HttpResult::Timeout : HttpResult::Failed;
}

HttpResult WinHttpTransfer::Open(const HttpTransferSpec& spec, uint32_t epoch) {
    CloseRequest();
    requestEpoch_ = epoch;
    status_ = 0;
    noHead_ = false;
    contentLength_.reset();
    headerLines_.clear();
    if (!Valid()) return HttpResult::Failed;
    if (Aborted()) return HttpResult::Aborted;

    if (!connection_ || connectedHost_ != spec.host || connectedPort_ != spec.port) {
        if (connection_) WinHttpCloseHandle(connection_);
        connection_ = WinHttpConnect(session_, Widen(spec.host).c_str(), spec.port, 0);
        connectedHost_ = connection_ ? spec.host : std::string();
        connectedPort_ = connection_ ? spec.port : 0;
        if (!connection_) {
            lastError_ = static_cast<int>(GetLastError());
            return HttpResult::Failed;
        }
    }
    HINTERNET request =
        WinHttpOpenRequest(connection_, Widen(spec.method).c_str(), Widen(spec.target).c_str(), nullptr,
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
        const std::wstring wide = Widen(header);
        WinHttpAddRequestHeaders(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }
    const bool credentials = spec.authSchemes != 0 && !spec.userName.empty();
    if (credentials && spec.authSchemes == http_auth::kBasic) {
        WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                              Widen(spec.userName).c_str(), Widen(spec.password).c_str(), nullptr);
    }

    HttpResult r = SendAndReceive(spec);
    if (r != HttpResult::Ok || noHead_) return r;
    if (status_ == 401 && credentials && spec.authSchemes != http_auth::kBasic) {
        DWORD offered = 0, first = 0, target = 0;
        const HINTERNET h = Request();
        const DWORD scheme =
            h && WinHttpQueryAuthSchemes(h, &offered, &first, &target) ? ChooseScheme(offered, spec.authSchemes) : 0;
        if (scheme != 0 && WinHttpSetCredentials(h, target, scheme, Widen(spec.userName).c_str(),
                                                 Widen(spec.password).c_str(), nullptr)) {
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
    const HINTERNET h = Request();
    DWORD status = 0;
    DWORD size = sizeof status;
    status_ = h && WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)
                  ? status
                  : 0;
    headerLines_.clear();
    contentLength_.reset();
    done_ = false;
    DWORD bytes = 0;
    WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                        WINHTTP_NO_HEADER_INDEX);
    if (bytes == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
    std::wstring raw(bytes / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
        return;
    raw.resize(bytes / sizeof(wchar_t));
    const std::string text = Narrow(raw);
    size_t start = text.find("\r\n");  // after the status line
    while (start != std::string::npos && start + 2 < text.size()) {
        const size_t end = text.find("\r\n", start + 2);
        const std::string line = text.substr(start + 2, end == std::string::npos ? end : end - start - 2);
        if (!line.empty()) headerLines_.push_back(line);
        start = end;
    }
    for (const std::string& value : HeaderValues("Content-Length")) {
        uint64_t n = 0;
        bool digits = !value.empty();
        for (const char c : value) {
            if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) {
                digits = false;
                break;
            }
            n = n * 10 + static_cast<uint64_t>(c - '0');
        }
        if (digits) contentLength_ = n;
    }
}

std::vector<std::string> WinHttpTransfer::HeaderValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const std::string& line : headerLines_) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || !EqualsNoCase(std::string_view(line).substr(0, colon), name)) continue;
        size_t first = colon + 1;
        size_t last = line.size();
        while (first < last && (line[first] == ' ' || line[first] == '\t')) ++first;
        while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t')) --last;
        values.push_back(line.substr(first, last - first));
    }
    return values;
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
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    }
    const size_t want = std::min<size_t>(available, kReadChunk);
    const size_t at = buffer_.size();
    buffer_.resize(at + want);
    DWORD got = 0;
    if (!WinHttpReadData(h, buffer_.data() + at, static_cast<DWORD>(want), &got)) {
        buffer_.resize(at);
        return Failure();
    }
    buffer_.resize(at + got);
    if (got == 0) {
        done_ = true;
        return HttpResult::End;
    }
    return HttpResult::Ok;
}

size_t WinHttpTransfer::Take(std::vector<uint8_t>& out, size_t maxBytes) {
    const size_t n = std::min(maxBytes, Buffered());
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(n));
    readPos_ += n;
    return n;
}

void WinHttpTransfer::CloseRequest() {
    {
        std::lock_guard<std::mutex> lock(requestMutex_);
        if (request_) WinHttpCloseHandle(request_);
        request_ = nullptr;
    }
    open_ = false;
    done_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    readPos_ = 0;
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

}  // namespace platform
