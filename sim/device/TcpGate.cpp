#include "sim/device/TcpGate.h"

#include <poll.h>

namespace dravnel::sim {

namespace {

constexpr uint32_t kConnectRounds = 20;  // 2 s against a local server

}  // namespace

struct TcpGate::Relay {
    platform::Socket client;
    platform::Socket server;
    platform::Thread up;    // client -> server
    platform::Thread down;  // server -> client
    std::atomic<int> directions{2};

    void Cut() {
        client.Shutdown();
        server.Shutdown();
    }
};

TcpGate::TcpGate() = default;
TcpGate::~TcpGate() { Close(); }

bool TcpGate::Open(uint16_t port, uint16_t targetPort, std::string& error) {
    if (acceptor_.Held()) {
        error = "the gate is open";
        return false;
    }
    platform::Socket listener;
    // Reuse lets a gate come back on its port while old connections linger in
    // TIME_WAIT. Non-blocking: a connection gone before it is accepted must
    // not hold the accepting thread past a stop (accepted sockets block).
    if (!listener.Create(platform::Socket::Kind::Tcp) || !listener.SetReuseAddress(true) ||
        !listener.SetNonBlocking(true) || !listener.Bind(port, htonl(INADDR_LOOPBACK)) || !listener.Listen(64)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port);
        return false;
    }
    listener_ = std::move(listener);
    targetPort_ = targetPort;
    stop_.Reset();
    relayEnded_.Reset();
    if (!acceptor_.Start([this] { AcceptLoop(); })) {
        listener_.Close();
        error = "cannot start the accepting thread";
        return false;
    }
    port_ = listener_.LocalPort();
    return true;
}

void TcpGate::Close() {
    if (!acceptor_.Held()) return;
    stop_.Set();
    acceptor_.Join();
    listener_.Close();
    port_ = 0;
    std::vector<std::unique_ptr<Relay>> relays;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        relays.swap(relays_);
    }
    for (auto& relay : relays) relay->Cut();  // wakes a direction blocked in a send
    for (auto& relay : relays) {
        relay->up.Join();
        relay->down.Join();
    }
}

size_t TcpGate::Relays() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return relays_.size();
}

void TcpGate::AcceptLoop() {
    for (;;) {
        const int got = platform::WaitAny({&stop_, &relayEnded_}, platform::kInfinite, listener_.Fd(), POLLIN);
        if (got == 0 || got == platform::kWaitFailed) break;
        Reap();
        if (got == 1) continue;
        platform::Socket client = listener_.Accept();
        if (!client.IsOpen()) continue;
        auto relay = std::make_unique<Relay>();
        relay->client = std::move(client);
        // A server that cannot be reached drops the connection, as a camera
        // whose web service is down would.
        if (!relay->server.Create(platform::Socket::Kind::Tcp) ||
            !relay->server.Connect(htonl(INADDR_LOOPBACK), targetPort_, kConnectRounds, 100, &stop_))
            continue;
        Relay& r = *relay;
        if (!r.up.Start([this, &r] { Pass(r.client, r.server, r); })) continue;
        if (!r.down.Start([this, &r] { Pass(r.server, r.client, r); })) {
            r.Cut();
            r.up.Join();
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        relays_.push_back(std::move(relay));
    }
}

void TcpGate::Pass(platform::Socket& from, platform::Socket& to, Relay& relay) {
    uint8_t buffer[16384];
    bool broken = false;
    for (;;) {
        const platform::IoStatus ready = from.WaitReadable(platform::kInfinite, &stop_);
        if (ready != platform::IoStatus::Ok) {
            broken = true;
            break;
        }
        const platform::IoResult got = from.Receive(buffer);
        if (got.status == platform::IoStatus::Ok) {
            if (!to.SendAll(std::span<const uint8_t>(buffer, got.bytes))) {
                broken = true;
                break;
            }
            continue;
        }
        if (got.status == platform::IoStatus::Closed) break;  // end of stream (or reset)
        broken = true;
        break;
    }
    if (broken)
        relay.Cut();
    else
        to.ShutdownSend();
    if (relay.directions.fetch_sub(1) == 1) relayEnded_.Set();
}

void TcpGate::Reap() {
    std::vector<std::unique_ptr<Relay>> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = relays_.begin(); it != relays_.end();) {
            if ((*it)->directions.load() == 0) {
                done.push_back(std::move(*it));
                it = relays_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& relay : done) {
        relay->up.Join();
        relay->down.Join();
    }
}

}  // namespace dravnel::sim
