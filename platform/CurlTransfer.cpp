#include "platform/CurlTransfer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Socket.h"

namespace dravnel::platform {

namespace {

// Longest single wait of the poll loop; it re-checks its deadlines after each.
constexpr uint32_t kMaxPollMs = 1000;

CURLcode GlobalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

long CurlAuthOf(uint32_t schemes) {
    long bits = 0;
    if (schemes & http_auth::kBasic) bits |= CURLAUTH_BASIC;
    if (schemes & http_auth::kDigest) bits |= CURLAUTH_DIGEST;
    if (schemes & http_auth::kNtlm) bits |= CURLAUTH_NTLM;
    if (schemes & http_auth::kNegotiate) bits |= CURLAUTH_NEGOTIATE;
    return bits;
}

}  // namespace

CurlTransfer::CurlTransfer(std::string userAgent, uint32_t connectTimeoutMs, uint32_t idleTimeoutMs)
    : userAgent_(std::move(userAgent)), connectTimeoutMs_(connectTimeoutMs), idleTimeoutMs_(idleTimeoutMs) {
    const CURLcode init = GlobalInit();
    if (init != CURLE_OK) {
        lastError_ = init;
        return;
    }
    easy_ = curl_easy_init();
    if (!easy_ || !CreateMulti()) lastError_ = CURLE_FAILED_INIT;
}

CurlTransfer::~CurlTransfer() {
    CloseRequest();
    std::lock_guard<std::mutex> guard(multiMutex_);
    if (multi_) curl_multi_cleanup(multi_);
    if (easy_) curl_easy_cleanup(easy_);
    curl_slist_free_all(headerList_);
}

bool CurlTransfer::CreateMulti() {
    multi_ = curl_multi_init();
    if (!multi_) return false;
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
    return true;
}

void CurlTransfer::SignalClose() {
    ++closeCount_;
    // Wakes the current poll, or else the next one. The lock keeps the
    // multi handle from being replaced meanwhile.
    std::lock_guard<std::mutex> guard(multiMutex_);
    if (multi_) curl_multi_wakeup(multi_);
}

void CurlTransfer::Touch() { lastActivity_ = MonotonicMs(); }

size_t CurlTransfer::OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<CurlTransfer*>(user);
    const size_t length = size * count;
    t->Touch();
    return t->head_.Take(std::string_view(data, length)) ? length : 0;  // 0 fails the transfer
}

size_t CurlTransfer::OnBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<CurlTransfer*>(user);
    const size_t length = size * count;
    t->Touch();
    t->head_.OnBody();
    // A chunk is taken only whole: a paused chunk comes again on resume.
    if (t->Buffered() > 0 && t->Buffered() + length > HttpClient::kWindow) {
        t->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (t->readPos_ == t->buffer_.size()) {
        t->buffer_.clear();
        t->readPos_ = 0;
    } else if (t->readPos_ >= HttpClient::kWindow / 2) {
        t->buffer_.erase(t->buffer_.begin(), t->buffer_.begin() + static_cast<std::ptrdiff_t>(t->readPos_));
        t->readPos_ = 0;
    }
    t->buffer_.insert(t->buffer_.end(), data, data + length);
    return length;
}

size_t CurlTransfer::OnUpload(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<CurlTransfer*>(user);
    const size_t room = size * count;
    const size_t left = t->upload_.size() - t->uploadSent_;
    if (left == 0) return t->uploadShort_ ? CURL_READFUNC_PAUSE : 0;
    const size_t n = std::min(room, left);
    std::memcpy(data, t->upload_.data() + t->uploadSent_, n);
    t->uploadSent_ += n;
    t->Touch();
    return n;
}

int CurlTransfer::OnConnected(void* user, char*, char*, int, int) {
    static_cast<CurlTransfer*>(user)->Touch();
    return CURL_PREREQFUNC_OK;
}

int CurlTransfer::OnDebug(CURL*, curl_infotype type, char*, size_t, void* user) {
    if (type == CURLINFO_HEADER_OUT) static_cast<CurlTransfer*>(user)->headerOut_ = true;
    return 0;
}

CURLcode CurlTransfer::SetHeaders(const std::vector<std::string>& headers, bool withBody) {
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    bool hasExpect = false;
    auto append = [this](const std::string& line) {
        curl_slist* grown = curl_slist_append(headerList_, line.c_str());
        if (grown) headerList_ = grown;
        return grown != nullptr;
    };
    for (const std::string& entry : headers) {
        // An entry may hold several lines.
        size_t start = 0;
        while (start < entry.size()) {
            size_t end = entry.find_first_of("\r\n", start);
            if (end == std::string::npos) end = entry.size();
            if (end > start) {
                const std::string line = entry.substr(start, end - start);
                hasExpect = hasExpect || EqualsNoCase(line.substr(0, 7), "expect:");
                if (!append(line)) return CURLE_OUT_OF_MEMORY;
            }
            start = end + 1;
        }
    }
    // No "Expect: 100-continue" round before a body: devices do not know it.
    if (withBody && !hasExpect && !append("Expect:")) return CURLE_OUT_OF_MEMORY;
    return CURLE_OK;
}

CURLcode CurlTransfer::Configure(const HttpTransferSpec& spec) {
    std::string target = spec.target;
    if (target.empty() || target.front() != '/') target.insert(target.begin(), '/');
    // The host goes into the URL as it is: one that could change the URL's
    // meaning (credentials before '@', a path, a second request) is refused.
    if (!IsHostText(spec.host, true)) return CURLE_URL_MALFORMAT;
    const bool literalIPv6 = spec.host.find(':') != std::string::npos;
    url_ = (spec.secure ? "https://" : "http://") + (literalIPv6 ? "[" + spec.host + "]" : spec.host);
    if (spec.port != 0) url_ += ":" + std::to_string(spec.port);
    url_ += target;

    upload_ = spec.body;
    uploadSent_ = 0;
    const uint64_t bodyLength = std::max<uint64_t>(spec.body.size(), spec.totalLength);
    uploadShort_ = bodyLength > spec.body.size();
    const bool credentials = !spec.userName.empty() && spec.authSchemes != 0;
    const long auth = CurlAuthOf(spec.authSchemes);
    if (credentials && auth == 0) return CURLE_NOT_BUILT_IN;  // a scheme libcurl cannot present

    CURLcode rc = SetHeaders(spec.headers, bodyLength > 0);
    auto set = [&rc](CURLcode c) {
        if (rc == CURLE_OK) rc = c;
    };
    CURL* e = easy_;
    set(curl_easy_setopt(e, CURLOPT_URL, url_.c_str()));
    set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_PROXY, ""));  // never a proxy from the environment
    set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(e, CURLOPT_USERAGENT, userAgent_.c_str()));
    set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs_)));
    set(curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, 0L));  // an event stream may last for hours
    set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, spec.followRedirects ? 1L : 0L));
    set(curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L));
    // A redirect to another host (or port or scheme) goes without credentials.
    set(curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, spec.ignoreCertErrors ? 0L : 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, spec.ignoreCertErrors ? 0L : 2L));
    set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList_));
    // Options stay set on the reused handle: each one is set every time.
    set(curl_easy_setopt(e, CURLOPT_HTTPAUTH, credentials ? auth : static_cast<long>(CURLAUTH_BASIC)));
    set(curl_easy_setopt(e, CURLOPT_USERNAME, credentials ? spec.userName.c_str() : nullptr));
    set(curl_easy_setopt(e, CURLOPT_PASSWORD, credentials ? spec.password.c_str() : nullptr));

    const bool head = spec.method == "HEAD";
    set(curl_easy_setopt(e, CURLOPT_NOBODY, head ? 1L : 0L));
    if (head) {
        set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr)));
    } else if (bodyLength > 0) {
        set(curl_easy_setopt(e, CURLOPT_POST, 1L));
        set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength)));
        set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, spec.method == "POST" ? nullptr : spec.method.c_str()));
    } else {
        set(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
        set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, spec.method == "GET" ? nullptr : spec.method.c_str()));
    }

    set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader));
    set(curl_easy_setopt(e, CURLOPT_HEADERDATA, this));
    set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody));
    set(curl_easy_setopt(e, CURLOPT_WRITEDATA, this));
    set(curl_easy_setopt(e, CURLOPT_READFUNCTION, &CurlTransfer::OnUpload));
    set(curl_easy_setopt(e, CURLOPT_READDATA, this));
    set(curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlTransfer::OnConnected));
    set(curl_easy_setopt(e, CURLOPT_PREREQDATA, this));
    // The debug hook is the one place libcurl tells that the request went out.
    set(curl_easy_setopt(e, CURLOPT_VERBOSE, spec.returnAfterSend ? 1L : 0L));
    set(curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CurlTransfer::OnDebug));
    set(curl_easy_setopt(e, CURLOPT_DEBUGDATA, this));
    return rc;
}

void CurlTransfer::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
            done_ = true;
            result_ = message->data.result;
        }
    }
}

void CurlTransfer::Resume() {
    if (!paused_ || Buffered() + CURL_MAX_WRITE_SIZE > HttpClient::kWindow) return;
    paused_ = false;
    curl_easy_pause(easy_, CURLPAUSE_CONT);  // may hand over the held chunk at once
}

// Runs the transfer until `ready` holds, the transfer ends, a Close comes, or
// nothing moves for the idle time-out.
template <typename Ready>
HttpResult CurlTransfer::Drive(Ready ready) {
    Touch();
    for (;;) {
        if (Aborted()) return HttpResult::Aborted;
        if (!done_) {
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi_, &running);
            if (mc != CURLM_OK) {
                lastError_ = mc;
                return HttpResult::Failed;
            }
            CollectDone();
        }
        if (ready() || done_) return HttpResult::Ok;
        uint32_t wait = kMaxPollMs;
        if (idleTimeoutMs_ != 0) {
            const uint32_t idle = MonotonicMs() - lastActivity_;
            if (idle >= idleTimeoutMs_) return HttpResult::Timeout;
            wait = std::min(wait, idleTimeoutMs_ - idle);
        }
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait), nullptr);
    }
}

HttpResult CurlTransfer::Open(const HttpTransferSpec& spec, uint32_t epoch) {
    CloseRequest();
    requestEpoch_ = epoch;
    head_.Reset(spec.followRedirects);
    noHead_ = false;
    contentLength_.reset();
    headerOut_ = false;
    result_ = CURLE_OK;
    if (!Valid()) return HttpResult::Failed;

    const CURLcode configured = Configure(spec);
    if (configured != CURLE_OK) {
        lastError_ = configured;
        return HttpResult::Failed;
    }
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        lastError_ = CURLE_FAILED_INIT;
        return HttpResult::Failed;
    }
    open_ = true;
    const bool early = spec.returnAfterSend;
    const HttpResult r = Drive([this, early] { return head_.Final() || (early && Sent()); });
    if (r != HttpResult::Ok) {
        CloseRequest();
        return r;
    }
    if (early && !head_.Final() && Sent()) {
        noHead_ = true;
        return HttpResult::Ok;
    }
    head_.OnDone();  // libcurl let an ended head through
    if (!head_.Final()) {
        lastError_ = result_ != CURLE_OK ? result_ : CURLE_GOT_NOTHING;
        CloseRequest();
        return HttpResult::Failed;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
        contentLength_ = static_cast<uint64_t>(length);
    return HttpResult::Ok;
}

std::vector<std::string> CurlTransfer::HeaderValues(std::string_view name) const { return head_.Values(name); }

HttpResult CurlTransfer::WaitBody() {
    if (Aborted()) {
        CloseRequest();
        return HttpResult::Aborted;
    }
    if (!open_.load()) return HttpResult::Failed;
    Resume();
    if (Buffered() > 0) return HttpResult::Ok;  // the transfer moves on when the window runs dry
    const HttpResult r = Drive([this] { return Buffered() > 0; });
    if (r == HttpResult::Aborted) CloseRequest();
    if (r != HttpResult::Ok) return r;
    if (Buffered() > 0) return HttpResult::Ok;
    if (result_ == CURLE_OK) return HttpResult::End;
    lastError_ = result_;
    return HttpResult::Failed;
}

size_t CurlTransfer::Take(std::vector<uint8_t>& out, size_t maxBytes) {
    const size_t n = std::min(maxBytes, Buffered());
    const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_);
    out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(n));
    readPos_ += n;
    Resume();
    return n;
}

void CurlTransfer::CloseRequest() {
    if (open_.load()) {
        curl_multi_remove_handle(multi_, easy_);  // a transfer cut short loses its connection
        open_ = false;
    }
    done_ = false;
    paused_ = false;
    buffer_.clear();
    buffer_.shrink_to_fit();
    readPos_ = 0;
}

void CurlTransfer::DropConnections() {
    CloseRequest();
    std::lock_guard<std::mutex> guard(multiMutex_);
    if (multi_) curl_multi_cleanup(multi_);
    if (!CreateMulti()) lastError_ = CURLE_FAILED_INIT;
}

}  // namespace dravnel::platform
