#include "web/CHttpSender.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "web/AuthChallenge.h"
#include "web/CHttpRequest.h"

namespace Web {

CHttpSender::CHttpSender(const dravnel::DEVICE_INFO& device) : CBaseHttpSender(device) { Initialize(); }

CHttpSender::~CHttpSender() { CloseRequest(); }

void CHttpSender::Initialize() {
    int error = 0;
    OpenClient("Dravnel::HttpSender", dravnel::platform::HttpApi::WinHttp, error);  // a failure here is not reported
}

uint32_t CHttpSender::SchemeOfAuthMode(int32_t authMode) {
    if (authMode == CHttpRequest::kAuthNone) return 0;
    if (authMode & 0x4) return dravnel::platform::http_auth::kNegotiate;
    if ((authMode & 0x3) == 0x3) return dravnel::platform::http_auth::kDigest;
    if (authMode & 0x2) return dravnel::platform::http_auth::kPassport;
    if (authMode & 0x1) return dravnel::platform::http_auth::kNtlm;
    return dravnel::platform::http_auth::kBasic;
}

bool CHttpSender::SendRequest(const CHttpRequest& request) {
    CloseRequest();
    statusCode_ = contentLength_ = 0;
    if (!client_ || device_.Address.empty() || request.verb.empty() || request.object.empty()) return false;

    const uint32_t requestedScheme = SchemeOfAuthMode(request.authMode);
    dravnel::platform::HttpTransferSpec spec;
    spec.secure = request.secure == 1;
    spec.host = device_.Address;
    spec.port = device_.Port;
    spec.method = request.verb;
    spec.target =
        CHttpRequest::EscapeObject(request.object, true, (request.flags & CHttpRequest::kEscapeDisableQuery) == 0);
    if (!device_.UserName.empty() && request.authMode != CHttpRequest::kAuthNone) {
        spec.userName = device_.UserName;
        spec.password = device_.Password;
        spec.authSchemes = authScheme_ != 0 ? authScheme_ : requestedScheme;
    }
    spec.ignoreCertErrors = spec.secure && (request.flags & CHttpRequest::kIgnoreCertErrors) != 0;
    spec.followRedirects = (request.flags & CHttpRequest::kDisableRedirects) == 0;
    spec.headers = request.headers;
    spec.body = request.body;
    spec.totalLength = request.totalLength;
    spec.returnAfterSend =
        request.body.size() < request.totalLength || (request.flags & CHttpRequest::kNoWaitForResponse) != 0;

    if (client_->Open(spec) != dravnel::platform::HttpResult::Ok) return false;
    if (spec.returnAfterSend) return true;  // status and length are not read
    TakeResponseHead();

    if (statusCode_ == 401 && authScheme_ == 0) {
        authScheme_ = PreferredAuthScheme(client_->HeaderValues("WWW-Authenticate"));
        CloseRequest();
        if (authScheme_ != 0 && authScheme_ != requestedScheme) return SendRequest(request);
        return false;
    }
    return true;
}

void CHttpSender::CloseRequest() { CloseClientRequest(); }

uint32_t CHttpSender::QueryDataAvailable() { return QueryClientAvailable(); }

uint32_t CHttpSender::ReadData(std::vector<uint8_t>& body, uint32_t limit, bool clear) {
    return ReadClientData(body, limit, clear);
}

uint32_t CHttpSender::ReadResponse(std::vector<uint8_t>& body) {
    body.clear();
    replyCut_ = false;
    if (!client_) return 0;
    // The announced length, or the cap when there is none; never more than
    // the cap, whatever a device announces.
    uint64_t budget = contentLength_ != 0 ? std::min<uint64_t>(contentLength_, kMaxBody) : kMaxBody;
    const bool capped = contentLength_ == 0 || contentLength_ > kMaxBody;
    // Each read waits at most the idle time-out; the whole body gets the HTTP
    // time-out, so that a body trickling in cannot hold the caller for long.
    const uint32_t start = dravnel::platform::MonotonicMs();
    while (budget > 0) {
        if (dravnel::platform::MonotonicMs() - start >= device_.HttpTimeout) {
            replyCut_ = true;
            break;
        }
        size_t appended = 0;
        const auto want = static_cast<size_t>(std::min<uint64_t>(budget, kReadChunk));
        // A time-out, a failure or the end all end the read; the body keeps
        // what arrived before.
        const dravnel::platform::HttpResult result = client_->Read(body, want, appended);
        if (result != dravnel::platform::HttpResult::Ok) break;
        budget -= appended;
    }
    if (budget == 0 && capped) {
        // The cap was reached: cut, unless the body ends right here.
        size_t available = 0;
        replyCut_ = contentLength_ > kMaxBody || client_->WaitAvailable(available) == dravnel::platform::HttpResult::Ok;
    }
    return static_cast<uint32_t>(body.size());
}

}  // namespace Web
