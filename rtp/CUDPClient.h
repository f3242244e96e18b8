// A packet source on a bound UDP port: reads datagrams on a thread of its own
// ("UDP client thread, port %u") and hands each one to its user. Sends for
// the RTCP handler too.
//
// Thread-safety: Open and Close are serialised by the client's lock and are
// called by the owner; SendTo may be called from any thread while the client
// is open; the user is called on the client's thread only. Close may also be
// called from inside a user callback.
#pragma once

#include <atomic>
#include <cstdint>
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

    CLock lock_;
    IRTPClientUser* user_ = nullptr;  // set while closed, read by the thread
    platform::Socket socket_;
    std::atomic<uint16_t> port_{0};
    std::atomic<unsigned> receiveSize_{kDefaultReceiveSize};
    std::atomic<unsigned> selectTimeoutMs_{2000};
    std::vector<uint8_t> buffer_;  // the client thread's
};

}  // namespace dravnel
