#include "rtp/CUDPClient.h"

#include <algorithm>
#include <cstdio>

namespace dravnel {

namespace {

constexpr int kSocketReceiveBuffer = 65535;
constexpr uint32_t kReceiveTimeoutMs = 2000;
constexpr uint32_t kSendTimeoutMs = 4000;
constexpr unsigned kReceiveSizeStep = 1024;
constexpr int kMaxDrained = 100;
constexpr size_t kDrainBytes = 1500;
constexpr uint32_t kWaitRetryPauseMs = 10;

}  // namespace

CUDPClient::CUDPClient(IDebugMessage* logger) : CBaseThread(logger) {}

CUDPClient::~CUDPClient() { Close(); }

bool CUDPClient::Open(IRTPClientUser* user, uint16_t port) {
    {
        CScopedLock guard(lock_);
        if (socket_.IsOpen()) return false;
        user_ = user;
        platform::Socket socket;
        // The socket is read without blocking: a wait for readiness comes
        // first whenever nothing is pending, so a flood is read back to back.
        const bool ready = socket.Create(platform::Socket::Kind::Udp) &&
                           socket.SetReceiveBuffer(kSocketReceiveBuffer) &&
                           socket.SetReceiveTimeout(kReceiveTimeoutMs) && socket.SetSendTimeout(kSendTimeoutMs) &&
                           socket.SetNonBlocking(true) && socket.Bind(port);
        if (ready) {
            const uint16_t bound = socket.LocalPort();
            socket_ = std::move(socket);
            port_ = bound;
            char name[64];
            std::snprintf(name, sizeof name, "UDP client thread, port %u", unsigned{bound});
            if (StartThread(name)) return true;
        }
    }
    Close();
    return false;
}

void CUDPClient::Close() {
    stopEvent_.Set();
    {
        CScopedLock guard(lock_);
        if (!socket_.IsOpen()) return;
        // Wakes the thread should it be inside a receive.
        socket_.Shutdown();
        port_ = 0;
    }
    // The socket is closed only once its thread has ended (or when Close runs
    // on that thread), so that no read can land on a descriptor reused by
    // someone else.
    const unsigned limit = std::max(5000u, (selectTimeoutMs_.load() / 1000 + 1) * 1000);
    StopThread(limit);
    IRTPClientUser* user = nullptr;
    {
        CScopedLock guard(lock_);
        if (!socket_.IsOpen()) return;
        uint8_t discard[kDrainBytes];
        for (int i = 0; i < kMaxDrained; ++i) {
            sockaddr_in from{};
            const auto r = socket_.ReceiveFrom(discard, from);
            if (r.status != platform::IoStatus::Ok || r.bytes == 0) break;
        }
        socket_.Close();
        user = user_;
    }
    if (user) user->OnClosed(this);
}

void CUDPClient::SetReceiveSize(unsigned bytes) { receiveSize_ = std::clamp(bytes, 1u, kMaxReceiveSize); }

void CUDPClient::SetSelectTimeout(unsigned seconds, unsigned milliseconds) {
    selectTimeoutMs_ = seconds * 1000 + milliseconds;
}

bool CUDPClient::SendTo(const sockaddr_in& to, std::span<const uint8_t> bytes) {
    CScopedLock guard(lock_);
    return socket_.IsOpen() && socket_.SendTo(to, bytes);
}

bool CUDPClient::IsOpen() {
    CScopedLock guard(lock_);
    return socket_.IsOpen() && port_.load() != 0;
}

platform::IoStatus CUDPClient::WaitSocket(uint32_t timeoutMs) {
    return socket_.WaitReadable(timeoutMs, stopEvent_.Handle());
}

// A failed wait (out of memory, say) is repeated after a short pause, so that
// a lasting failure does not spin; only a closed socket ends the thread.
bool CUDPClient::WaitReadable() {
    for (;;) {
        const platform::IoStatus status = WaitSocket(selectTimeoutMs_.load());
        if (status == platform::IoStatus::Aborted || StopRequested()) return false;
        switch (status) {
            case platform::IoStatus::Ok:
                return true;
            case platform::IoStatus::Timeout:
                if (user_) user_->OnTimeout(this);
                break;
            case platform::IoStatus::Closed:
                if (user_) user_->OnClosed(this);
                return false;
            default:
                if (stopEvent_.Wait(kWaitRetryPauseMs)) return false;
                break;
        }
    }
}

uint32_t CUDPClient::Run() {
    bool wait = true;
    while (!StopRequested()) {
        if (wait && !WaitReadable()) break;
        const unsigned size = std::min(receiveSize_.load(), kMaxReceiveSize);
        if (buffer_.size() < size) buffer_.resize(size);
        sockaddr_in from{};
        const platform::IoResult r = socket_.ReceiveFrom(std::span<uint8_t>(buffer_.data(), size), from);
        if (StopRequested()) break;
        wait = false;
        switch (r.status) {
            case platform::IoStatus::Ok:
                if (r.bytes > 0 && user_) user_->OnPacket(this, &from, buffer_.data(), static_cast<unsigned>(r.bytes));
                break;
            case platform::IoStatus::TooLong: {
                // The datagram is lost; the next one of its size fits. Growing
                // straight to its size loses one datagram, not one per 1024 bytes.
                const unsigned needed = static_cast<unsigned>(std::min<size_t>(r.bytes, kMaxReceiveSize));
                receiveSize_ = std::min(std::max(size + kReceiveSizeStep, needed), kMaxReceiveSize);
                break;
            }
            case platform::IoStatus::Closed:
                if (user_) user_->OnClosed(this);
                return 0;
            default:
                // Nothing pending, or a failed read: wait for the next datagram.
                wait = true;
                break;
        }
    }
    return 0;
}

}  // namespace dravnel
