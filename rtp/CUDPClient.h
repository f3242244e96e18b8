// A packet source on a bound UDP port: reads datagrams on a thread of its own
// ("UDP client thread, port %u"), as many at once as are pending (up to a
// batch), and hands them to its user in arrival order. Counts the datagrams
// the kernel dropped because the socket's buffer was full. Sends for the RTCP
// handler too.
//
// Thread-safety: Open and Close are serialised by the client's lock and are
// called by the owner; SendTo may be called from any thread while the client
// is open; the user is called on the client's thread only. Close may also be
// called from inside a user callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/Socket.h"
#include "rtp/IRTPClient.h"
#include "threads/CBaseThread.h"
#include "threads/CLock.h"

namespace dravnel {

class CUDPClient : public CBaseThread, public IRTPClient {
public:
    static constexpr unsigned kDefaultReceiveSize = 8192;
    static constexpr unsigned kMaxReceiveSize = 65535;
    static constexpr int kDefaultSocketBuffer = 65535;
    // Datagrams read by one call at most.
    static constexpr size_t kMaxBatch = 32;

    explicit CUDPClient(IDebugMessage* logger);
    ~CUDPClient() override;

    // Binds the port (0: the system chooses) and starts reading for `user`.
    // False when already open or when the socket cannot be set up.
    bool Open(IRTPClientUser* user, uint16_t port) override;
    // Stops reading, closes the socket and tells the user (OnClosed).
    void Close() override;
    // Size of the datagram buffer; a longer datagram is dropped and the buffer
    // grows for the next one.
    void SetReceiveSize(unsigned bytes) override;
    // How long a wait for data lasts before the user hears OnTimeout.
    void SetSelectTimeout(unsigned seconds, unsigned milliseconds) override;
    uint16_t GetPort() override { return port_.load(); }

    bool SendTo(const sockaddr_in& to, std::span<const uint8_t> bytes);
    bool IsOpen();

    // The last Open failed for want of a descriptor (the process or the
    // system had none left).
    bool OutOfDescriptors() const { return outOfDescriptors_.load(); }

    // The socket receive buffer the next Open asks for, in bytes.
    void SetSocketBuffer(int bytes) { socketBuffer_ = bytes > 0 ? bytes : kDefaultSocketBuffer; }
    int SocketBufferAsked() const { return socketBuffer_.load(); }
    // What the system granted at the last Open; 0 before.
    int SocketBufferGranted() const { return socketBufferGranted_.load(); }
    // Datagrams the kernel dropped on this client's sockets, since construction.
    uint64_t KernelDrops() const { return kernelDrops_.load(); }
    // Adds the kernel's drops to `total` (owned by the caller, outliving the
    // client) as they become known; set before Open.
    void CountDropsInto(std::atomic<uint64_t>* total) { dropTotal_ = total; }

    unsigned ReceiveSize() const { return receiveSize_.load(); }
    unsigned SelectTimeoutMs() const { return selectTimeoutMs_.load(); }

    uint32_t Run() override;

protected:
    // One wait for readiness of the socket, watching the stop event; a seam
    // for tests of failing waits.
    virtual platform::IoStatus WaitSocket(uint32_t timeoutMs);

private:
    // Until readable (true), or stopped or the socket closed (false).
    bool WaitReadable();
    // The user gets the batch's whole datagrams; a cut one grows the buffer.
    void Deliver(const platform::DatagramBatch& batch, unsigned size);
    void NoteDrops(std::optional<uint32_t> socketDrops);

    CLock lock_;
    IRTPClientUser* user_ = nullptr;  // set while closed, read by the thread
    platform::Socket socket_;
    std::atomic<uint16_t> port_{0};
    std::atomic<unsigned> receiveSize_{kDefaultReceiveSize};
    std::atomic<unsigned> selectTimeoutMs_{2000};
    std::atomic<int> socketBuffer_{kDefaultSocketBuffer};
    std::atomic<int> socketBufferGranted_{0};
    std::atomic<bool> outOfDescriptors_{false};
    std::atomic<uint64_t> kernelDrops_{0};
    std::atomic<uint64_t>* dropTotal_ = nullptr;
    // The client thread's.
    uint32_t socketDropsSeen_ = 0;  // the current socket's count, as last told
    std::vector<ReceivedDatagram> delivered_;
};

}  // namespace dravnel
