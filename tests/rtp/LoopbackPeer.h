// A UDP socket on 127.0.0.1 that plays the camera or the network in tests.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Socket.h"

namespace quarnel::test {

class LoopbackPeer {
public:
    LoopbackPeer() {
        socket_.Create(platform::Socket::Kind::Udp);
        socket_.Bind(0, htonl(INADDR_LOOPBACK));
    }

    uint16_t Port() const { return socket_.LocalPort(); }

    bool SendTo(uint16_t port, const std::vector<uint8_t>& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return socket_.SendTo(to, bytes);
    }

    // The next datagram, or nothing within the time-out.
    std::optional<std::vector<uint8_t>> Receive(uint32_t timeoutMs) {
        if (socket_.WaitReadable(timeoutMs) != platform::IoStatus::Ok) return std::nullopt;
        std::vector<uint8_t> buffer(65536);
        sockaddr_in from{};
        const auto r = socket_.ReceiveFrom(buffer, from);
        if (r.status != platform::IoStatus::Ok) return std::nullopt;
        buffer.resize(r.bytes);
        return buffer;
    }

private:
    platform::Socket socket_;
};

inline uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

}  // namespace quarnel::test
