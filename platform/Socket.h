// IPv4 TCP and UDP sockets (POSIX, or Winsock 2 on Windows) with the options and waits the RTSP client
// and the RTP side need. Blocking calls are bounded by the socket's time-outs
// and can be broken off from another thread with Shutdown, or by waiting
// through WaitReadable with an abort event.
//
// Thread-safety: one thread uses a socket; Shutdown may be called from any
// thread while another one is blocked in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Event.h"
#include "platform/InetAddress.h"
#include "platform/PageBuffer.h"

namespace dravnel::platform {

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

// Datagrams read by one call (recvmmsg; on Windows one recvfrom each), each in a buffer of its own, with
// its sender and its real length (longer than the buffer when truncated).
//
// Thread-safety: one thread at a time.
class DatagramBatch {
public:
    // `count` buffers of `bytes` each; keeps what it has when they match.
    void Reserve(size_t count, size_t bytes);
    size_t Capacity() const { return count_; }
    size_t BufferBytes() const { return bytes_; }

    // What the last ReceiveBatch read.
    size_t Size() const { return received_; }
    // The datagram's bytes as far as they fit its buffer.
    const uint8_t* Data(size_t i) const { return buffers_ + i * bytes_; }
#ifdef _WIN32
    size_t Length(size_t i) const { return lengths_[i]; }
    bool Truncated(size_t i) const { return lengths_[i] > bytes_; }
#else
    size_t Length(size_t i) const { return headers_[i].msg_len; }
    bool Truncated(size_t i) const { return headers_[i].msg_len > bytes_; }
#endif
    const sockaddr_in& From(size_t i) const { return from_[i]; }
    // The socket's count of datagrams the kernel dropped, as the latest
    // datagram that carried it told (see Socket::EnableDropCount); none before
    // the first drop.
    std::optional<uint32_t> DropCount() const { return drops_; }

private:
    friend class Socket;
#ifndef _WIN32
    // Room for the drop count's control message.
    struct Control {
        alignas(cmsghdr) unsigned char bytes[CMSG_SPACE(sizeof(uint32_t))];
    };
#endif

    size_t count_ = 0;
    size_t bytes_ = 0;
    size_t received_ = 0;
    std::optional<uint32_t> drops_;
    // One block of pages holds the buffers and the arrays beside them; a
    // buffer's pages become resident only when a datagram lands in them.
    PageBuffer block_;
    uint8_t* buffers_ = nullptr;
    sockaddr_in* from_ = nullptr;
#ifdef _WIN32
    // Windows does not tell a cut datagram's length: one more than its buffer.
    size_t* lengths_ = nullptr;
#else
    mmsghdr* headers_ = nullptr;
    iovec* iov_ = nullptr;
    Control* control_ = nullptr;
#endif
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
    // The errno of the last Create that failed; 0 after one that succeeded.
    int CreateError() const { return createError_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Close();
    // Wakes any call blocked on the socket; later calls fail.
    void Shutdown();
    // TCP: ends the sending direction only (the peer reads end of stream);
    // receiving goes on.
    void ShutdownSend();

    bool SetReceiveBuffer(int bytes);
    // Asks for a receive buffer of `bytes`; a process allowed to (CAP_NET_ADMIN)
    // gets it beyond the system's limit (net.core.rmem_max) too. Returns the
    // size granted, counted as `bytes` is; 0 on failure.
    int SetReceiveBufferAtLeast(int bytes);
    int ReceiveBufferSize() const;
    // UDP: datagrams then carry the kernel's count of the datagrams it dropped
    // for this socket (SO_RXQ_OVFL), for ReceiveBatch to report.
    bool EnableDropCount();
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
    // at most `rounds` rounds; an abort event set ends the wait after the
    // round. The socket
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
    // UDP, never waiting: as many pending datagrams as the batch holds. Ok
    // with `bytes` = the number read; Timeout when none is pending.
    IoResult ReceiveBatch(DatagramBatch& batch);

    // Waits until readable, the abort event is set, or the time-out. Closed
    // without a descriptor; Error when the wait itself failed (it may be
    // repeated). A descriptor closed under the wait shows as readable, and
    // the read then reports Closed.
    IoStatus WaitReadable(uint32_t timeoutMs, Event* abort = nullptr);

private:
    int fd_ = -1;
    int createError_ = 0;
};

}  // namespace dravnel::platform
