// What the socket backends share: host text checks, address text and the
// ownership of a socket.
#include "platform/InetAddress.h"
#include "platform/Socket.h"

namespace dravnel::platform {

bool IsHostText(std::string_view host, bool ipv6) {
    if (host.empty() || host.size() > 253) return false;
    for (const char c : host) {
        const bool name = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '-' || c == '_';
        if (!name && !(ipv6 && c == ':')) return false;
    }
    return true;
}

std::string FormatIPv4(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = networkOrder;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

Socket::Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

}  // namespace dravnel::platform
