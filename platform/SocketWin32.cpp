// Sockets on Winsock 2. Differences from the POSIX backend: a socket is a
// SOCKET (it fits the descriptor's int on 32-bit Windows); time-outs are
// DWORD milliseconds; the receive buffer is reported as granted (no doubling,
// no forcing past a limit); there is no drop count; a batch is a loop of
// non-blocking recvfrom calls.
#include <winsock2.h>
// After winsock2.h, which they build on.
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>
#include <set>

#include "platform/Socket.h"
#include "platform/WinSockets.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace dravnel::platform {

namespace win32 {

namespace {
std::mutex nonBlockingMutex;
std::set<SOCKET>& NonBlockingSockets() {
    static std::set<SOCKET> sockets;
    return sockets;
}
}  // namespace

bool EnsureWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void NoteNonBlocking(SOCKET s, bool on) {
    std::lock_guard<std::mutex> lock(nonBlockingMutex);
    if (on) {
        NonBlockingSockets().insert(s);
    } else {
        NonBlockingSockets().erase(s);
    }
}

bool IsNonBlocking(SOCKET s) {
    std::lock_guard<std::mutex> lock(nonBlockingMutex);
    return NonBlockingSockets().count(s) != 0;
}

}  // namespace win32

namespace {

SOCKET S(int fd) { return static_cast<SOCKET>(fd); }

IoStatus StatusOfLastError() {
    const int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK || e == WSAETIMEDOUT) return IoStatus::Timeout;
    if (e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAENOTCONN || e == WSAESHUTDOWN) return IoStatus::Closed;
    if (e == WSAENOTSOCK || e == WSAEBADF) return IoStatus::Closed;
    return IoStatus::Error;
}

bool SetIntOption(int fd, int option, int value) {
    return fd >= 0 && setsockopt(S(fd), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool SetTimeout(int fd, int option, uint32_t ms) {
    const DWORD value = ms;
    return fd >= 0 && setsockopt(S(fd), SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace

std::optional<uint32_t> ResolveIPv4(const std::string& host) {
    if (!IsHostText(host) || !win32::EnsureWinsock()) return std::nullopt;
    in_addr literal{};
    if (inet_pton(AF_INET, host.c_str(), &literal) == 1) return literal.s_addr;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return std::nullopt;
    uint32_t address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return address;
}

bool Socket::Create(Kind kind) {
    Close();
    if (!win32::EnsureWinsock()) {
        createError_ = WSANOTINITIALISED;
        return false;
    }
    // Not inherited by child processes.
    const SOCKET s = WSASocketW(AF_INET, kind == Kind::Tcp ? SOCK_STREAM : SOCK_DGRAM,
                                kind == Kind::Tcp ? IPPROTO_TCP : IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        createError_ = WSAGetLastError();
        return false;
    }
    if (kind == Kind::Udp) {
        // Otherwise an ICMP port unreachable for one of our datagrams fails
        // the next receive with WSAECONNRESET.
        BOOL report = FALSE;
        DWORD bytes = 0;
        WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    }
    fd_ = static_cast<int>(s);
    createError_ = 0;
    return true;
}

void Socket::Close() {
    if (fd_ >= 0) {
        win32::NoteNonBlocking(S(fd_), false);
        closesocket(S(fd_));
        fd_ = -1;
    }
}

void Socket::Shutdown() {
    if (fd_ >= 0) shutdown(S(fd_), SD_BOTH);
}

void Socket::ShutdownSend() {
    if (fd_ >= 0) shutdown(S(fd_), SD_SEND);
}

bool Socket::SetReceiveBuffer(int bytes) { return SetIntOption(fd_, SO_RCVBUF, bytes); }

int Socket::SetReceiveBufferAtLeast(int bytes) {
    if (fd_ < 0 || bytes <= 0 || !SetReceiveBuffer(bytes)) return 0;
    return ReceiveBufferSize();
}

int Socket::ReceiveBufferSize() const {
    int value = 0;
    int len = sizeof value;
    if (fd_ < 0 || getsockopt(S(fd_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &len) != 0) return 0;
    return value;
}

bool Socket::EnableDropCount() { return false; }

bool Socket::SetReceiveTimeout(uint32_t ms) { return SetTimeout(fd_, SO_RCVTIMEO, ms); }
bool Socket::SetSendTimeout(uint32_t ms) { return SetTimeout(fd_, SO_SNDTIMEO, ms); }

bool Socket::SetReuseAddress(bool on) { return SetIntOption(fd_, SO_REUSEADDR, on ? 1 : 0); }

bool Socket::SetNonBlocking(bool on) {
    if (fd_ < 0) return false;
    u_long value = on ? 1 : 0;
    if (ioctlsocket(S(fd_), FIONBIO, &value) != 0) return false;
    win32::NoteNonBlocking(S(fd_), on);
    return true;
}

bool Socket::Bind(uint16_t port, uint32_t addressNetworkOrder) {
    if (fd_ < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetworkOrder;
    return bind(S(fd_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

uint16_t Socket::LocalPort() const {
    if (fd_ < 0) return 0;
    sockaddr_in a{};
    int len = sizeof a;
    if (getsockname(S(fd_), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool Socket::Listen(int backlog) { return fd_ >= 0 && listen(S(fd_), backlog) == 0; }

Socket Socket::Accept(sockaddr_in* from) {
    Socket s;
    sockaddr_in a{};
    int len = sizeof a;
    const SOCKET accepted = accept(S(fd_), reinterpret_cast<sockaddr*>(&a), &len);
    if (accepted != INVALID_SOCKET) {
        // An accepted socket inherits the listener's mode; it starts blocking here.
        u_long off = 0;
        ioctlsocket(accepted, FIONBIO, &off);
        SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
        s.fd_ = static_cast<int>(accepted);
        if (from) *from = a;
    }
    return s;
}

bool Socket::Connect(uint32_t addressNetworkOrder, uint16_t port, uint32_t rounds, uint32_t roundMs, Event* abort) {
    if (fd_ < 0 || !SetNonBlocking(true)) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetworkOrder;
    if (connect(S(fd_), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return SetNonBlocking(false);
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    for (uint32_t round = 0; round < rounds; ++round) {
        if (abort && abort->IsSet()) return false;
        const int got = WaitAny(std::span<Event* const>(), roundMs, fd_, POLLOUT);
        if (got == kWaitFailed) return false;
        if (got == kWaitTimeout) continue;
        int error = 0;
        int len = sizeof error;
        if (getsockopt(S(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 || error != 0)
            return false;
        // A failed connect shows in the exception set, not always in SO_ERROR.
        fd_set write;
        FD_ZERO(&write);
        FD_SET(S(fd_), &write);
        timeval zero{0, 0};
        if (select(0, nullptr, &write, nullptr, &zero) != 1) return false;
        return SetNonBlocking(false);
    }
    return false;
}

bool Socket::SendAll(std::span<const uint8_t> data) {
    if (fd_ < 0) return false;
    const int n = send(S(fd_), reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0);
    return n == static_cast<int>(data.size());
}

bool Socket::SendAll(const std::string& text) {
    return SendAll(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

IoResult Socket::Receive(std::span<uint8_t> buffer) {
    if (fd_ < 0) return {IoStatus::Closed, 0};
    const int n = recv(S(fd_), reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
    if (n > 0) return {IoStatus::Ok, static_cast<size_t>(n)};
    if (n == 0) return {IoStatus::Closed, 0};
    return {StatusOfLastError(), 0};
}

IoResult Socket::ReceiveFrom(std::span<uint8_t> buffer, sockaddr_in& from) {
    if (fd_ < 0) return {IoStatus::Closed, 0};
    int len = sizeof from;
    const int n = recvfrom(S(fd_), reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
        if (WSAGetLastError() == WSAEMSGSIZE) return {IoStatus::TooLong, buffer.size() + 1};
        // An ICMP port unreachable for an earlier datagram of ours; not this socket's end.
        if (WSAGetLastError() == WSAECONNRESET) return {IoStatus::Timeout, 0};
        return {StatusOfLastError(), 0};
    }
    return {IoStatus::Ok, static_cast<size_t>(n)};
}

void DatagramBatch::Reserve(size_t count, size_t bytes) {
    if (count == count_ && bytes == bytes_) return;
    BlockLayout layout;
    const size_t buffersAt = layout.Add<uint8_t>(count * bytes);
    const size_t lengthsAt = layout.Add<size_t>(count);
    const size_t fromAt = layout.Add<sockaddr_in>(count);
    block_ = PageBuffer(layout.Size());
    count_ = count;
    bytes_ = bytes;
    received_ = 0;
    buffers_ = block_.Data() + buffersAt;
    lengths_ = block_.Construct<size_t>(lengthsAt, count);
    from_ = block_.Construct<sockaddr_in>(fromAt, count);
}

IoResult Socket::ReceiveBatch(DatagramBatch& batch) {
    batch.received_ = 0;
    if (fd_ < 0) return {IoStatus::Closed, 0};
    if (batch.count_ == 0) return {IoStatus::Error, 0};
    const bool wasNonBlocking = win32::IsNonBlocking(S(fd_));
    if (!wasNonBlocking && !SetNonBlocking(true)) return {IoStatus::Error, 0};
    IoStatus failure = IoStatus::Timeout;
    while (batch.received_ < batch.count_) {
        const size_t i = batch.received_;
        int len = sizeof(sockaddr_in);
        const int n = recvfrom(S(fd_), reinterpret_cast<char*>(batch.buffers_ + i * batch.bytes_),
                               static_cast<int>(batch.bytes_), 0, reinterpret_cast<sockaddr*>(&batch.from_[i]), &len);
        if (n >= 0) {
            batch.lengths_[i] = static_cast<size_t>(n);
        } else if (WSAGetLastError() == WSAEMSGSIZE) {
            batch.lengths_[i] = batch.bytes_ + 1;
        } else if (WSAGetLastError() == WSAECONNRESET) {
            continue;  // an ICMP report about an earlier send; the next datagram may be there
        } else {
            failure = StatusOfLastError();
            break;
        }
        ++batch.received_;
    }
    if (!wasNonBlocking) SetNonBlocking(false);
    if (batch.received_ == 0) return {failure, 0};
    return {IoStatus::Ok, batch.received_};
}

bool Socket::SendTo(const sockaddr_in& to, std::span<const uint8_t> data) {
    if (fd_ < 0) return false;
    const int n = sendto(S(fd_), reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == static_cast<int>(data.size());
}

IoStatus Socket::WaitReadable(uint32_t timeoutMs, Event* abort) {
    if (fd_ < 0) return IoStatus::Closed;
    Event* events[1] = {abort};
    int got = WaitAny(std::span<Event* const>(events, abort ? 1 : 0), timeoutMs, fd_, POLLIN);
    if (got == kWaitTimeout) return IoStatus::Timeout;
    if (got == kWaitFailed) return IoStatus::Error;
    if (abort && got == 0) return IoStatus::Aborted;
    return IoStatus::Ok;
}

}  // namespace dravnel::platform
