#include "web/CWinInetSender.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/HttpClient.h"
#include "web/CHttpRequest.h"
#include "web/HUtils.h"

namespace Web {

CWinInetSender::CWinInetSender(const dravnel::DEVICE_INFO& device) : CBaseHttpSender(device) { Initialize(); }

CWinInetSender::~CWinInetSender() { CloseRequest(); }

void CWinInetSender::Initialize() {
    int error = 0;
    if (OpenClient("Dravnel::WinInetSender", dravnel::platform::HttpApi::WinInet, error)) return;
    // Not the host's log: this sender has none.
    dravnel::platform::WriteDebuggerOutput(dravnel::HUtils::Format(
        "%s - failed, code=%u", "Web::CWinInetSender::Initialize", static_cast<unsigned>(error)));
}

bool CWinInetSender::SendRequestOnce(const CHttpRequest& request) {
    statusCode_ = contentLength_ = 0;
    if (!client_ || device_.Address.empty()) return false;
    CloseRequest();
    if (request.verb.empty() || request.object.empty()) return false;

    dravnel::platform::HttpTransferSpec spec;
    spec.host = device_.Address;
    spec.port = device_.Port;
    spec.method = request.verb;
    spec.target = CHttpRequest::EscapeObject(request.object, false, false);
    if (!device_.UserName.empty()) {
        spec.userName = device_.UserName;
        spec.password = device_.Password;
        spec.authSchemes = dravnel::platform::http_auth::kAny;
    }
    spec.headers = {"Accept: */*"};
    spec.followRedirects = true;  // this sender has no way to turn redirects off

    if (client_->Open(spec) != dravnel::platform::HttpResult::Ok) return false;
    TakeResponseHead();
    return true;
}

bool CWinInetSender::SendRequest(const CHttpRequest& request) {
    if (!SendRequestOnce(request)) return false;
    if (statusCode_ != 401) return true;
    // Present the credentials again on a new connection.
    CloseRequest();
    if (client_) client_->DropConnections();
    return SendRequestOnce(request);
}

void CWinInetSender::CloseRequest() { CloseClientRequest(); }

uint32_t CWinInetSender::QueryDataAvailable() { return QueryClientAvailable(); }

uint32_t CWinInetSender::ReadData(std::vector<uint8_t>& body, uint32_t limit, bool clear) {
    return ReadClientData(body, limit, clear);
}

uint32_t CWinInetSender::ReadResponse(std::vector<uint8_t>& body) {
    body.clear();
    replyCut_ = false;
    uint64_t total = 0;
    // As CHttpSender: the whole body within the HTTP time-out, at most kMaxBody.
    const uint32_t start = dravnel::platform::MonotonicMs();
    while (total < kMaxBody) {
        if (dravnel::platform::MonotonicMs() - start >= device_.HttpTimeout) {
            replyCut_ = true;
            break;
        }
        const uint32_t available = QueryDataAvailable();
        if (available == 0) break;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>({available, kReadChunk, kMaxBody - total}));
        const uint32_t got = ReadData(body, want, false);
        if (got == 0) break;
        total += got;
    }
    if (total >= kMaxBody) replyCut_ = QueryDataAvailable() != 0;
    return static_cast<uint32_t>(total);
}

}  // namespace Web
