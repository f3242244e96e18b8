// The gate in front of the simulated camera's web server: it relays both
// directions byte for byte, passes a half close on, and when it closes cuts
// every relayed connection and frees its port and threads.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "sim/device/TcpGate.h"
#include "sim/web/WebServer.h"
#include "tests/sim/SimHttp.h"

namespace quarnel::sim {
namespace {

using namespace std::chrono_literals;

size_t Threads() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

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

// A raw server on a free port that accepts one connection.
struct Backend {
    platform::Socket listener;
    uint16_t port = 0;
    Backend() {
        EXPECT_TRUE(listener.Create(platform::Socket::Kind::Tcp));
        EXPECT_TRUE(listener.Bind(0, htonl(INADDR_LOOPBACK)));
        EXPECT_TRUE(listener.Listen());
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
    web.SetPageText("/small", "res=200");
    TcpGate gate;
    std::string error;
    ASSERT_TRUE(gate.Open(0, web.Port(), error)) << error;
    EXPECT_TRUE(gate.IsOpen());
    EXPECT_NE(gate.Port(), web.Port());
    EXPECT_EQ(quarnel::test::SimHttpGet(gate.Port(), "/small").body, "res=200");
    const auto reply = quarnel::test::SimHttpGet(gate.Port(), "/large");
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body == large) << reply.body.size();
    // The server saw the request as sent.
    ASSERT_FALSE(web.Log().empty());
    EXPECT_EQ(web.Log().back().target, "/large");
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
    const size_t threads = Threads();
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
    EXPECT_EQ(gate.Relays(), 0u);
    EXPECT_EQ(ReadAll(client), "");   // cut: end of stream at once
    EXPECT_EQ(ReadAll(peer), "");
    EXPECT_FALSE(Connect(port).IsOpen());  // refused
    EXPECT_EQ(Threads(), threads);

    // Back on the same port while the cut connections linger.
    ASSERT_TRUE(gate.Open(port, backend.port, error)) << error;
    EXPECT_EQ(gate.Port(), port);
    platform::Socket again = Connect(port);
    ASSERT_TRUE(again.IsOpen());
    platform::Socket peer2 = backend.Accept();
    ASSERT_TRUE(again.SendAll(std::string("ping")));
    uint8_t buffer[16];
    ASSERT_EQ(peer2.WaitReadable(3000), platform::IoStatus::Ok);
    auto got = peer2.Receive(buffer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got.bytes), "ping");
    gate.Close();
    EXPECT_EQ(Threads(), threads);
}

TEST(TcpGate, RefusesATakenPortAndDropsConnectionsToNobody) {
    Backend backend;
    TcpGate first, second;
    std::string error;
    ASSERT_TRUE(first.Open(0, backend.port, error));
    EXPECT_FALSE(second.Open(first.Port(), backend.port, error));
    EXPECT_NE(error.find(std::to_string(first.Port())), std::string::npos) << error;
    EXPECT_FALSE(first.Open(0, backend.port, error));  // already open

    // A target that is not listening: the client's connection is dropped.
    backend.listener.Close();
    platform::Socket client = Connect(first.Port());
    ASSERT_TRUE(client.IsOpen());
    EXPECT_EQ(ReadAll(client), "");
    EXPECT_TRUE(WaitUntil([&] { return first.Relays() == 0; }));
}

}  // namespace
}  // namespace quarnel::sim
