// The sender of most CGI requests (stream configuration, probing, alarm I/O).
//
// Credentials go out in exactly one scheme: the one the request's authMode
// names until a 401 has taught the sender the server's preferred scheme,
// which it then uses for every later request. The connection, and with it
// the Digest state of the server, is kept for the sender's life.
//
// Thread-safety: as CBaseHttpSender.
#pragma once

#include "web/CBaseHttpSender.h"

namespace Web {

class CHttpSender : public CBaseHttpSender {
public:
    explicit CHttpSender(const dravnel::DEVICE_INFO& device);
    ~CHttpSender() override;

    bool SendRequest(const CHttpRequest& request) override;
    void CloseRequest() override;
    uint32_t QueryDataAvailable() override;
    uint32_t ReadResponse(std::vector<uint8_t>& body) override;
    uint32_t ReadData(std::vector<uint8_t>& body, uint32_t limit, bool clear) override;

    // The scheme learnt from a 401 (dravnel::platform::http_auth bit), 0 before.
    uint32_t AuthScheme() const { return authScheme_; }
    // The scheme an authMode of CHttpRequest names; 0 for kAuthNone.
    static uint32_t SchemeOfAuthMode(int32_t authMode);

private:
    void Initialize();

    uint32_t authScheme_ = 0;
};

}  // namespace Web
