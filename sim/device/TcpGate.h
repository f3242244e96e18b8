// A TCP port on 127.0.0.1 that passes every connection through to another
// local port, and that can go away and come back without the server behind
// it: the simulated camera's HTTP port, so that a "reboot" refuses and cuts
// connections while the web server and its pages, log and authentication
// state live on.
//
// Each accepted connection is relayed by two threads, one per direction; the
// end of one direction is passed on as a half close, a broken connection
// cuts both. Finished relays are joined by the accepting thread.
//
// Thread-safety: Open, Close and the destructor belong to the owner; Port,
// IsOpen and Relays may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace dravnel::sim {

class TcpGate {
public:
    TcpGate();
    ~TcpGate();
    TcpGate(const TcpGate&) = delete;
    TcpGate& operator=(const TcpGate&) = delete;

    // Listens on 127.0.0.1:port (0: a free port) and relays to
    // 127.0.0.1:targetPort. False with `error` when the port cannot be bound
    // or the gate is open.
    bool Open(uint16_t port, uint16_t targetPort, std::string& error);
    // Stops listening and cuts every relayed connection; joins every thread.
    void Close();

    bool IsOpen() const { return port_.load() != 0; }
    uint16_t Port() const { return port_.load(); }
    // Connections being relayed now.
    size_t Relays() const;

private:
    struct Relay;

    void AcceptLoop();
    void Pass(platform::Socket& from, platform::Socket& to, Relay& relay);
    // Joins and drops the relays whose both directions ended.
    void Reap();

    platform::Socket listener_;
    platform::Thread acceptor_;
    platform::Event stop_{platform::Event::Mode::Manual};
    platform::Event relayEnded_;  // wakes the acceptor to reap
    uint16_t targetPort_ = 0;
    std::atomic<uint16_t> port_{0};

    mutable std::mutex mutex_;  // guards relays_
    std::vector<std::unique_ptr<Relay>> relays_;
};

}  // namespace dravnel::sim
