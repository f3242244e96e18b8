#include "web/CBaseHttpSender.h"

#include <algorithm>

#include "platform/HttpClient.h"

namespace Web {

CBaseHttpSender::CBaseHttpSender(const dravnel::DEVICE_INFO& device) : device_(device) {}

CBaseHttpSender::~CBaseHttpSender() = default;

bool CBaseHttpSender::OpenClient(std::string userAgent, dravnel::platform::HttpApi api, int& error) {
    auto client = std::make_unique<dravnel::platform::HttpClient>(std::move(userAgent), device_.HttpTimeout,
                                                                  device_.HttpTimeout, api);
    error = client->LastError();
    if (!client->Valid()) return false;
    client_ = std::move(client);
    return true;
}

void CBaseHttpSender::Cancel() {
    if (client_) client_->Cancel();
}

void CBaseHttpSender::Resume() {
    if (client_) client_->Resume();
}

void CBaseHttpSender::DropConnections() {
    if (client_) client_->DropConnections();
}

void CBaseHttpSender::CloseClientRequest() {
    if (client_) client_->Close();
}

uint32_t CBaseHttpSender::QueryClientAvailable() {
    if (!client_) return 0;
    size_t available = 0;
    if (client_->WaitAvailable(available) != dravnel::platform::HttpResult::Ok) return 0;
    return static_cast<uint32_t>(std::min<size_t>(available, UINT32_MAX));
}

uint32_t CBaseHttpSender::ReadClientData(std::vector<uint8_t>& body, uint32_t limit, bool clear) {
    if (clear) body.clear();
    if (!client_ || limit == 0) return 0;
    size_t appended = 0;
    if (client_->Read(body, limit, appended) != dravnel::platform::HttpResult::Ok) return 0;
    return static_cast<uint32_t>(appended);
}

void CBaseHttpSender::TakeResponseHead() {
    statusCode_ = client_->StatusCode();
    // A length beyond 32 bits is kept as the largest one: still known, and
    // the body read stops at its cap long before.
    const auto length = client_->ContentLength();
    contentLength_ = length ? static_cast<uint32_t>(std::min<uint64_t>(*length, UINT32_MAX)) : 0;
}

}  // namespace Web
