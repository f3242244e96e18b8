#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dravnel::platform {

std::optional<uint32_t> ResolveIPv4(const std::string& host) {
    if (!IsHostText(host)) return std::nullopt;
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
    fd_ = socket(AF_INET, (kind == Kind::Tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                 kind == Kind::Tcp ? IPPROTO_TCP : IPPROTO_UDP);
    createError_ = fd_ >= 0 ? 0 : errno;
    return fd_ >= 0;
}

void Socket::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

void Socket::Shutdown() {
    if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
}

void Socket::ShutdownSend() {
    if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

bool Socket::SetReceiveBuffer(int bytes) {
    return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

int Socket::SetReceiveBufferAtLeast(int bytes) {
    if (fd_ < 0 || bytes <= 0 || !SetReceiveBuffer(bytes)) return 0;
    int granted = ReceiveBufferSize();
    // Fails, changing nothing, without the right to pass the limit.
    if (granted < bytes && setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0)
        granted = ReceiveBufferSize();
    return granted;
}

int Socket::ReceiveBufferSize() const {
    int value = 0;
    socklen_t len = sizeof value;
    if (fd_ < 0 || getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &value, &len) != 0) return 0;
    // Linux reports twice what was asked: the second half pays for its
    // bookkeeping of the datagrams.
    return value / 2;
}

bool Socket::EnableDropCount() {
    int on = 1;
    return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0;
}

static bool SetTimeout(int fd, int option, uint32_t ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return fd >= 0 && setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

bool Socket::SetReceiveTimeout(uint32_t ms) { return SetTimeout(fd_, SO_RCVTIMEO, ms); }
bool Socket::SetSendTimeout(uint32_t ms) { return SetTimeout(fd_, SO_SNDTIMEO, ms); }

bool Socket::SetReuseAddress(bool on) {
    int value = on ? 1 : 0;
    return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) == 0;
}

bool Socket::SetNonBlocking(bool on) {
    if (fd_ < 0) return false;
    int flags = fcntl(fd_, F_GETFL, 0);
    if (flags < 0) return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(fd_, F_SETFL, flags) == 0;
}

bool Socket::Bind(uint16_t port, uint32_t addressNetworkOrder) {
    if (fd_ < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetworkOrder;
    return bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

uint16_t Socket::LocalPort() const {
    if (fd_ < 0) return 0;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

bool Socket::Listen(int backlog) { return fd_ >= 0 && listen(fd_, backlog) == 0; }

Socket Socket::Accept(sockaddr_in* from) {
    Socket s;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (fd >= 0) {
        s.fd_ = fd;
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
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return SetNonBlocking(false);
    if (errno != EINPROGRESS) return false;
    for (uint32_t round = 0; round < rounds; ++round) {
        // The abort event is looked at between the rounds, which keeps it
        // out of the poll (and so without a descriptor of its own).
        if (abort && abort->IsSet()) return false;
        const int got = WaitAny(std::span<Event* const>(), roundMs, fd_, POLLOUT);
        if (got == kWaitFailed) return false;
        if (got == kWaitTimeout) continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return false;
        return SetNonBlocking(false);
    }
    return false;
}

bool Socket::SendAll(std::span<const uint8_t> data) {
    if (fd_ < 0) return false;
    ssize_t n;
    do {
        n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(data.size());
}

bool Socket::SendAll(const std::string& text) {
    return SendAll(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

static IoStatus StatusOfErrno() {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoStatus::Timeout;
    if (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN) return IoStatus::Closed;
    if (errno == EBADF || errno == ENOTSOCK) return IoStatus::Closed;  // the descriptor is gone
    return IoStatus::Error;
}

IoResult Socket::Receive(std::span<uint8_t> buffer) {
    if (fd_ < 0) return {IoStatus::Closed, 0};
    ssize_t n;
    do {
        n = recv(fd_, buffer.data(), buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return {IoStatus::Ok, static_cast<size_t>(n)};
    if (n == 0) return {IoStatus::Closed, 0};
    return {StatusOfErrno(), 0};
}

IoResult Socket::ReceiveFrom(std::span<uint8_t> buffer, sockaddr_in& from) {
    if (fd_ < 0) return {IoStatus::Closed, 0};
    socklen_t len = sizeof from;
    ssize_t n;
    do {
        n = recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return {StatusOfErrno(), 0};
    if (static_cast<size_t>(n) > buffer.size()) return {IoStatus::TooLong, static_cast<size_t>(n)};
    return {IoStatus::Ok, static_cast<size_t>(n)};
}

void DatagramBatch::Reserve(size_t count, size_t bytes) {
    if (count == count_ && bytes == bytes_) return;
    BlockLayout layout;
    const size_t buffersAt = layout.Add<uint8_t>(count * bytes);
    const size_t headersAt = layout.Add<mmsghdr>(count);
    const size_t iovAt = layout.Add<iovec>(count);
    const size_t fromAt = layout.Add<sockaddr_in>(count);
    const size_t controlAt = layout.Add<Control>(count);
    block_ = PageBuffer(layout.Size());
    count_ = count;
    bytes_ = bytes;
    received_ = 0;
    buffers_ = block_.Data() + buffersAt;
    headers_ = block_.Construct<mmsghdr>(headersAt, count);
    iov_ = block_.Construct<iovec>(iovAt, count);
    from_ = block_.Construct<sockaddr_in>(fromAt, count);
    control_ = block_.Construct<Control>(controlAt, count);
    for (size_t i = 0; i < count; ++i) {
        iov_[i] = iovec{buffers_ + i * bytes, bytes};
        msghdr& m = headers_[i].msg_hdr;
        m.msg_iov = &iov_[i];
        m.msg_iovlen = 1;
    }
}

IoResult Socket::ReceiveBatch(DatagramBatch& batch) {
    batch.received_ = 0;
    if (fd_ < 0) return {IoStatus::Closed, 0};
    if (batch.count_ == 0) return {IoStatus::Error, 0};
    for (size_t i = 0; i < batch.count_; ++i) {
        msghdr& m = batch.headers_[i].msg_hdr;
        m.msg_name = &batch.from_[i];
        m.msg_namelen = sizeof(sockaddr_in);
        m.msg_control = batch.control_[i].bytes;
        m.msg_controllen = sizeof batch.control_[i].bytes;
        m.msg_flags = 0;
        batch.headers_[i].msg_len = 0;
    }
    int n;
    do {
        // MSG_TRUNC: a datagram's length is its real one, even when cut.
        n = recvmmsg(fd_, batch.headers_, static_cast<unsigned>(batch.count_), MSG_DONTWAIT | MSG_TRUNC, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return {StatusOfErrno(), 0};
    batch.received_ = static_cast<size_t>(n);
    for (size_t i = 0; i < batch.received_; ++i) {
        msghdr& m = batch.headers_[i].msg_hdr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
                c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
                uint32_t drops;
                std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                batch.drops_ = drops;
            }
        }
    }
    return {IoStatus::Ok, batch.received_};
}

bool Socket::SendTo(const sockaddr_in& to, std::span<const uint8_t> data) {
    if (fd_ < 0) return false;
    ssize_t n = sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == static_cast<ssize_t>(data.size());
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
