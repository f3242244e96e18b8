// A simulated camera web server per test, and device records that point at it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "quarnel/Types.h"
#include "sim/web/WebServer.h"

namespace quarnel::test {

class WebSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()); }

    dravnel::DEVICE_INFO Device(const std::string& user = "", const std::string& password = "",
                                uint32_t httpTimeoutMs = 1000) const {
        dravnel::DEVICE_INFO device(sim::WebServer::Address(), server.Port(), user, password);
        device.HttpTimeout = httpTimeoutMs;
        return device;
    }

    std::string Tag() const { return "device 127.0.0.1:" + std::to_string(server.Port()); }

    // A page that sends `body`, then, chunked, whatever `source` produces
    // every intervalMs for as long as it returns true.
    void SetStreamPage(const std::string& path, std::string body, uint32_t intervalMs,
                       std::function<bool(std::string&)> source) {
        server.SetPage(path, [=](const sim::WebPageRequest&) {
            sim::WebPageReply reply;
            reply.body = body;
            reply.streamIntervalMs = intervalMs;
            reply.stream = source;
            return reply;
        });
    }

    sim::WebServer server;
};

inline std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Milliseconds that `action` took.
template <typename Action>
long long ElapsedMs(Action action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace quarnel::test
