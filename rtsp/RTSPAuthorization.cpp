#include "rtsp/RTSPAuthorization.h"

#include "rtsp/Base64.h"
#include "rtsp/Md5.h"

namespace dravnel {

std::string BuildAuthorization(const AuthorizationInputs& in, RTSPMethod method, const std::string& uri) {
    switch (in.scheme) {
        case AuthScheme::Basic:
            // One unbroken line whatever the length: a MIME line break inside
            // the credential would end the header early.
            return "Authorization: Basic " + Base64EncodeLine(in.userName + ":" + in.password) + "\r\n";
        case AuthScheme::Digest: {
            if (in.realm.empty() || in.nonce.empty() || in.userName.empty() || in.password.empty() || uri.empty())
                return {};
            const std::string ha1 = Md5Hex(in.userName + ":" + in.realm + ":" + in.password);
            const std::string ha2 = Md5Hex(std::string(MethodName(method)) + ":" + uri);
            const std::string response = Md5Hex(ha1 + ":" + in.nonce + ":" + ha2);
            return "Authorization: Digest username=\"" + in.userName + "\", realm=\"" + in.realm + "\", nonce=\"" +
                   in.nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
        }
        case AuthScheme::None:
            break;
    }
    return {};
}

}  // namespace dravnel
