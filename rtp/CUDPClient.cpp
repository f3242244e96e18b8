#include "rtp/CUDPClient.h"

#include <algorithm>
#include <cstdio>

#include "platform/Process.h"

namespace dravnel {

namespace {

// Reads per call stay within this many buffer bytes.
constexpr size_t kBatchBytes = 64 * 1024;
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
        int granted = 0;
        const bool created = socket.Create(platform::Socket::Kind::Udp);
        outOfDescriptors_ = !created && platform::IsDescriptorShortage(socket.CreateError());
        const bool ready = created && (granted = socket.SetReceiveBufferAtLeast(socketBuffer_.load())) > 0 &&
                           socket.SetReceiveTimeout(kReceiveTimeoutMs) && socket.SetSendTimeout(kSendTimeoutMs) &&
                           socket.SetNonBlocking(true) && socket.Bind(port);
        if (ready) {
            // Without it (an old kernel) drops go uncounted, nothing else changes.
            socket.EnableDropCount();
            socketBufferGranted_ = granted;
            socketDropsSeen_ = 0;
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

// Close shuts the socket down, which ends the wait: the stop event need not be
// in it (and so needs no descriptor).
platform::IoStatus CUDPClient::WaitSocket(uint32_t timeoutMs) { return socket_.WaitReadable(timeoutMs); }

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

void CUDPClient::NoteDrops(std::optional<uint32_t> socketDrops) {
    // The kernel's count only grows (modulo 2^32) for the life of a socket.
    if (!socketDrops || *socketDrops == socketDropsSeen_) return;
    const uint32_t more = *socketDrops - socketDropsSeen_;
    socketDropsSeen_ = *socketDrops;
    kernelDrops_ += more;
    if (dropTotal_) *dropTotal_ += more;
}

void CUDPClient::Deliver(const platform::DatagramBatch& batch, unsigned size) {
    delivered_.clear();
    for (size_t i = 0; i < batch.Size(); ++i) {
        if (batch.Truncated(i)) {
            // The datagram is lost; the next one of its size fits. Growing
            // straight to its size loses one datagram, not one per 1024 bytes.
            const unsigned needed = static_cast<unsigned>(std::min<size_t>(batch.Length(i), kMaxReceiveSize));
            receiveSize_ = std::min(std::max(size + kReceiveSizeStep, needed), kMaxReceiveSize);
            continue;
        }
        if (batch.Length(i) > 0)
            delivered_.push_back({&batch.From(i), batch.Data(i), static_cast<unsigned>(batch.Length(i))});
    }
    if (!delivered_.empty() && user_) user_->OnPacketBatch(this, delivered_);
}

uint32_t CUDPClient::Run() {
    platform::DatagramBatch batch;
    delivered_.reserve(kMaxBatch);
    bool wait = true;
    while (!StopRequested()) {
        if (wait && !WaitReadable()) break;
        const unsigned size = std::min(receiveSize_.load(), kMaxReceiveSize);
        batch.Reserve(std::clamp<size_t>(kBatchBytes / size, 1, kMaxBatch), size);
        const platform::IoResult r = socket_.ReceiveBatch(batch);
        if (StopRequested()) break;
        if (r.status == platform::IoStatus::Closed) {
            if (user_) user_->OnClosed(this);
            return 0;
        }
        // Nothing pending, or a failed read: wait for the next datagram. A
        // batch that was not filled emptied the socket: the wait comes next.
        wait = r.status != platform::IoStatus::Ok || batch.Size() < batch.Capacity();
        if (r.status != platform::IoStatus::Ok) continue;
        NoteDrops(batch.DropCount());
        Deliver(batch, size);
    }
    return 0;
}

}  // namespace dravnel
