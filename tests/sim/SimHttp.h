// A plain HTTP client for the simulated camera's tests (cpp-httplib, which
// shares nothing with the driver's senders).
#pragma once

#include <httplib.h>

#include <cstdint>
#include <string>

namespace quarnel::test {

struct SimHttpReply {
    int status = 0;  // 0: no answer
    std::string body;
};

inline SimHttpReply SimHttpGet(uint16_t port, const std::string& target, const std::string& user = {},
                               const std::string& password = {}, bool digest = false) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    if (!user.empty()) {
        if (digest)
            client.set_digest_auth(user, password);
        else
            client.set_basic_auth(user, password);
    }
    SimHttpReply reply;
    if (auto result = client.Get(target)) {
        reply.status = result->status;
        reply.body = result->body;
    }
    return reply;
}

}  // namespace quarnel::test
