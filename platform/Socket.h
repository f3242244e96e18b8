// IPv4 TCP and UDP sockets (POSIX) with the options and waits the RTSP client
// and the RTP side need. Blocking calls are bounded by the socket's time-outs
// and can be broken off from another thread with Shutdown, or by waiting
// through WaitReadable with an abort event.
//
// Thread-safety: one thread uses a socket; Shutdown may be called from any
// thread while another one is blocked in it.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Event.h"

namespace platform {

// A device address as it may stand in a URL's host part and a request line:
// a host name or dotted address (letters, digits, '.', '-', '_'), or with
// `ipv6` also an IPv6 literal (hexadecimal digits, ':' and '.'), 253
// characters at most. Anything else (blanks, CR LF, quotes, '%', '@', '/',
// non-ASCII) could carry a request of its own and is refused.
bool IsHostText(std::string_view host, bool ipv6 = false);

// First IPv4 address of a host name or dotted address, network order; none
// for a host that IsHostText refuses.
std::optional<uint32_t> ResolveIPv4(const std::string& host);
std::string FormatIPv4(uint32_t networkOrder);

enum class IoStatus { Ok, Timeout, Closed, Aborted, TooLong, Error };

struct IoResult {
    IoStatus status = IoStatus::Error;
    size_t bytes = 0;
    explicit operator bool() const { return status == IoStatus::Ok; }
};

class Socket {
public:
    enum class Kind { Tcp, Udp };

    Socket() = default;
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Create(Kind kind);
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close();
    // Wakes any call blocked on the socket; later calls fail.
    void Shutdown();
    // TCP: ends the sending direction only (the peer reads end of stream);
    // receiving goes on.
    void ShutdownSend();

    bool SetReceiveBuffer(int bytes);
    bool SetReceiveTimeout(uint32_t ms);
    bool SetSendTimeout(uint32_t ms);
    bool SetReuseAddress(bool on);
    bool SetNonBlocking(bool on);

    // Binds to any local address; port 0 lets the system choose.
    bool Bind(uint16_t port, uint32_t addressNetworkOrder = INADDR_ANY);
    uint16_t LocalPort() const;
    bool Listen(int backlog = 16);
    Socket Accept(sockaddr_in* from = nullptr);

    // Non-blocking connect, then waits for writability in rounds of roundMs,
    // at most `rounds` rounds; an abort event ends the wait early. The socket
    // is back in blocking mode on success.
    bool Connect(uint32_t addressNetworkOrder, uint16_t port, uint32_t rounds, uint32_t roundMs = 100,
                 Event* abort = nullptr);

    // Sends everything (one send call for TCP: a short send fails).
    bool SendAll(std::span<const uint8_t> data);
    bool SendAll(const std::string& text);
    IoResult Receive(std::span<uint8_t> buffer);
    // UDP: one datagram; TooLong when it did not fit into the buffer.
    IoResult ReceiveFrom(std::span<uint8_t> buffer, sockaddr_in& from);
    bool SendTo(const sockaddr_in& to, std::span<const uint8_t> data);

    // Waits until readable, the abort event is set, or the time-out. Closed
    // without a descriptor; Error when the wait itself failed (it may be
    // repeated). A descriptor closed under the wait shows as readable, and
    // the read then reports Closed.
    IoStatus WaitReadable(uint32_t timeoutMs, Event* abort = nullptr);

private:
    int fd_ = -1;
};

}  // namespace platform
