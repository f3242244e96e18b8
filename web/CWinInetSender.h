// The sender of the PTZ commands. It ignores the request's flags, headers,
// body and authMode: credentials are offered to whatever scheme the server
// challenges with, and a 401 that still comes back makes it drop the
// connection and try once more on a new one.
//
// Thread-safety: as CBaseHttpSender.
#pragma once

#include "web/CBaseHttpSender.h"

namespace Web {

class CWinInetSender : public CBaseHttpSender {
public:
    explicit CWinInetSender(const dravnel::DEVICE_INFO& device);
    ~CWinInetSender() override;

    bool SendRequest(const CHttpRequest& request) override;
    void CloseRequest() override;
    uint32_t QueryDataAvailable() override;
    uint32_t ReadResponse(std::vector<uint8_t>& body) override;
    uint32_t ReadData(std::vector<uint8_t>& body, uint32_t limit, bool clear) override;
    // One attempt of SendRequest.
    virtual bool SendRequestOnce(const CHttpRequest& request);

private:
    void Initialize();
};

}  // namespace Web
