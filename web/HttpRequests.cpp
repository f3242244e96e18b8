#include "web/HttpRequests.h"

#include "web/CHttpRequest.h"
#include "web/HUtils.h"

namespace dravnel::HUtils {

CResultDef RequestGetRD(const std::string& path, std::vector<uint8_t>& reply, Web::CBaseHttpSender& sender,
                        bool readBody) {
    static const char* const kName = "dravnel::HUtils::RequestGetRD";
    CResultDef result;
    const std::string device =
        Format("device %s:%u", sender.Device().Address.c_str(), static_cast<unsigned>(sender.Device().Port));
    const Web::CHttpRequest request("GET", path);
    reply.clear();
    const bool sent = sender.SendRequest(request);
    const uint32_t status = sender.StatusCode();
    if (!sent || status == 0) {
        result = CResultDef(kLevelNever, CResultDef::kNotSent,
                            Format("%s: cannot send request \"%s\" to %s", kName, path.c_str(), device.c_str()));
    } else if (status / 100 != 2) {
        result = CResultDef(kLevelError, CResultDef::kBadStatus,
                            Format("%s: %s does not process request \"%s\", status code = %u", kName, device.c_str(),
                                   path.c_str(), static_cast<unsigned>(status)));
    }
    if (readBody && result.code == CResultDef::kSuccess) sender.ReadResponse(reply);
    return result;
}

bool RequestGetBody(const std::string& path, Web::CBaseHttpSender& sender, std::vector<uint8_t>& reply) {
    const Web::CHttpRequest request("GET", path);
    reply.clear();
    if (!sender.SendRequest(request)) return false;
    const uint32_t size = sender.ReadResponse(reply);
    return size != 0 && sender.StatusCode() == 200;
}

CResultDef RequestGetNoBody(const std::string& path, Web::CBaseHttpSender& sender) {
    std::vector<uint8_t> scratch;
    return RequestGetRD(path, scratch, sender, false);
}

}  // namespace dravnel::HUtils
