// One RTSP 1.0 session (RFC 2326) with a camera over one TCP connection, run
// on the client's own thread ("RTSP Client Thread"): DESCRIBE, SETUP and PLAY
// of one media, OPTIONS at half the session time-out to keep it alive, and
// TEARDOWN when stopped. Requests authenticate with Basic or Digest; a 401
// reply naming another scheme is answered by one retry with that scheme.
// In interleaved mode the thread also reads the RTP frames off the connection
// and hands them to the user.
//
// The client logs nothing: every failure is a false result. Failures of
// DESCRIBE, SETUP or PLAY end the session thread; the owner decides what
// follows.
//
// Thread-safety: StartClient, StopClient, IsConnected and SetClock are called
// by the owner's thread only; the session state is touched only by the
// session thread while it runs. The user is called on the session thread.
// Every wait of the session thread also watches its stop event, so
// StopClient returns after at most a short wait for the TEARDOWN reply.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Socket.h"
#include "rtp/IRTPClient.h"
#include "rtsp/CRTSPResponseParser.h"
#include "rtsp/RTSPConnectionSettings.h"
#include "rtsp/RTSPTypes.h"
#include "threads/CBaseThread.h"

namespace dravnel {

class CRTSPStreamParser;

class CBaseRTSPClient : public CBaseThread {
public:
    // The logger only hears of a session thread that does not stop in time.
    explicit CBaseRTSPClient(IDebugMessage* logger = nullptr);
    ~CBaseRTSPClient() override;

    uint32_t Run() override;
    virtual std::string BuildRequest(RTSPMethod method);
    virtual bool RunInterleaved();

    // Clears the session state, copies the settings, connects and starts the
    // session thread. `abort` (optional, borrowed) cuts the connect short.
    bool StartClient(const RTSPConnectionSettings& settings, IRTPReceiverUser* user, RTSPTransportMode mode,
                     CEvent* abort = nullptr);
    // Stops the session (sending TEARDOWN) and closes the connection.
    void StopClient();
    bool IsConnected() const { return socket_.IsOpen(); }
    // The last StartClient could not make its socket for want of a descriptor.
    bool OutOfDescriptors() const { return platform::IsDescriptorShortage(socket_.CreateError()); }

    // The time source of the keep-alive rule (FILETIME units) and the period
    // of its check; for tests. Set before StartClient.
    void SetClock(std::function<uint64_t()> fileTimeNow, uint32_t keepAliveCheckMs);

protected:
    bool Request(RTSPMethod method);
    bool SendRequest(RTSPMethod method);
    bool ReceiveResponse(std::string& reply);
    void KeepAlive();
    std::string BuildAuthorization(RTSPMethod method, const std::string& uri) const;

    std::string BaseUrl() const;
    std::string SetupUrl() const;
    std::string TransportLine() const;

private:
    bool Connect(CEvent* abort);
    bool Send(RTSPMethod method);
    bool KeepAliveDue() const;
    bool RetryWithNewScheme();
    // Receives what is there within the receive time-out; once stopping, the
    // wait is cut to a short one for the TEARDOWN reply.
    platform::IoResult ReceiveSome(std::span<uint8_t> buffer);
    bool ReceivePlainResponse(std::string& reply);
    bool ReceiveInterleavedResponse(std::string& reply);
    void ParsePending(CRTSPStreamParser& stream);
    const MediaDescription* SelectedMedia() const;

    RTSPConnectionSettings settings_;
    CRTSPResponseParser response_;
    platform::Socket socket_;
    uint64_t lastKeepAlive_ = 0;  // FILETIME units; 0 = never
    RTSPTransportMode mode_ = RTSPTransportMode::Udp;
    IRTPReceiverUser* user_ = nullptr;  // borrowed

    // Bytes read past the end of a reply; they belong to what follows.
    std::string pending_;
    // Interleaved mode after PLAY: replies come between RTP frames, and
    // `unansweredReplies_` replies are still due to earlier requests.
    bool interleavedPlaying_ = false;
    size_t unansweredReplies_ = 0;

    std::function<uint64_t()> now_;
    uint32_t keepAliveCheckMs_ = 1000;
};

}  // namespace dravnel
