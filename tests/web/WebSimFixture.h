// A simulated camera web server per test, and device records that point at it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

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
