// The gate in front of the simulated camera's web server: it relays both
// directions byte for byte, passes a half close on, and when it closes cuts
// every relayed connection and frees its port and threads. A taken port is
// refused with the whole camera.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "sim/device/TcpGate.h"
#include "sim/web/WebServer.h"
#include "tests/sim/SimHttp.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/WaitUntil.h"

namespace quarnel::sim {
namespace {

using namespace std::chrono_literals;
using quarnel::test::WaitUntil;

platform::Socket Connect(uint16_t port) {
    platform::Socket socket;
    if (!socket.Create(platform::Socket::Kind::Tcp) || !socket.Connect(htonl(INADDR_LOOPBACK), port, 10))
        socket.Close();
    return socket;
}

// Everything until end of stream (or 3 s of silence).
std::string ReadAll(platform::Socket& socket) {
    std::string text;
    uint8_t buffer[4096];
    while (socket.WaitReadable(3000) == platform::IoStatus::Ok) {
        auto got = socket.Receive(buffer);
        if (got.status != platform::IoStatus::Ok) break;
        text.append(reinterpret_cast<const char*>(buffer), got.bytes);
    }
    return text;
}

// A raw server on a free port.
struct Backend {
    platform::Socket listener;
    uint16_t port = 0;
    Backend() {
        EXPECT_TRUE(listener.Create(platform::Socket::Kind::Tcp) && listener.Bind(0, htonl(INADDR_LOOPBACK)) &&
                    listener.Listen());
        port = listener.LocalPort();
    }
    platform::Socket Accept() {
        if (listener.WaitReadable(3000) != platform::IoStatus::Ok) return {};
        return listener.Accept();
    }
};

TEST(TcpGate, RelaysHttpWithLargeBodies) {
    WebServer web;
    ASSERT_TRUE(web.Start());
    std::string large(1 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 23);
    web.SetPageText("/large", large);
    TcpGate gate;
    std::string error;
    ASSERT_TRUE(gate.Open(0, web.Port(), error)) << error;
    const auto reply = quarnel::test::SimHttpGet(gate.Port(), "/large");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body == large) << reply.body.size();
}

TEST(TcpGate, PassesAHalfCloseOnAndTheAnswerBack) {
    Backend backend;
    TcpGate gate;
    std::string error;
    ASSERT_TRUE(gate.Open(0, backend.port, error)) << error;
    std::string received;
    std::thread server([&] {
        platform::Socket peer = backend.Accept();
        received = ReadAll(peer);  // ends at the client's half close
        peer.SendAll(std::string("bye"));
    });
    platform::Socket client = Connect(gate.Port());
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.SendAll(std::string("hello")));
    client.ShutdownSend();
    EXPECT_EQ(ReadAll(client), "bye");
    server.join();
    EXPECT_EQ(received, "hello");
    EXPECT_TRUE(WaitUntil([&] { return gate.Relays() == 0; }));  // both directions ended: reaped
}

TEST(TcpGate, CloseCutsConnectionsAndLeavesNoThreadOrPort) {
    const size_t threads = quarnel::test::ThreadCount();
    Backend backend;
    TcpGate gate;
    std::string error;
    ASSERT_TRUE(gate.Open(0, backend.port, error)) << error;
    const uint16_t port = gate.Port();
    platform::Socket client = Connect(port);
    ASSERT_TRUE(client.IsOpen());
    platform::Socket peer = backend.Accept();
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitUntil([&] { return gate.Relays() == 1; }));

    const auto start = std::chrono::steady_clock::now();
    gate.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(gate.IsOpen());
    EXPECT_EQ(ReadAll(client), "");  // cut: end of stream at once
    EXPECT_EQ(ReadAll(peer), "");
    EXPECT_FALSE(Connect(port).IsOpen());  // refused
    EXPECT_EQ(quarnel::test::ThreadCount(), threads);

    // Back on the same port while the cut connections linger in TIME_WAIT.
    ASSERT_TRUE(gate.Open(port, backend.port, error)) << error;
    EXPECT_TRUE(Connect(port).IsOpen());
    gate.Close();
    EXPECT_EQ(quarnel::test::ThreadCount(), threads);
}

}  // namespace
}  // namespace quarnel::sim
