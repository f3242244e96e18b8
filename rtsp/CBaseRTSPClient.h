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
// Replies are matched to requests by CSeq: a reply that comes too late for
// its request (a keep-alive whose reply outlasted the receive time-out) is
// passed over rather than taken as the answer to a later one. A reply is
// read within the receive time-out as a whole, not per read, so a camera
// that trickles bytes cannot stretch it; a reply whose header block arrived
// but whose body falls short of its Content-Length by then is parsed as it
// is (logged once, at level 2).
//
// Thread-safety: StartClient, StopClient, IsConnected and the test seams are
// called by the owner's thread only; the session state is touched only by the
// session thread while it runs. The user is called on the session thread.
// Every wait of the session thread also watches its stop event. Once the stop
// event is set, everything the session still reads (the TEARDOWN reply, with
// whatever RTP the camera keeps sending around it) is bounded in time and in
// bytes, so StopClient returns soon whatever the camera does.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
    // Once stopping, all reading for the TEARDOWN reply (and its one retry).
    static constexpr uint32_t kStopReadMs = 500;
    static constexpr size_t kStopReadBytes = 256 * 1024;

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

    // The request that ended the last session, with the status of its reply
    // (0: no reply); none while DESCRIBE, SETUP and PLAY went through or the
    // session was stopped. May be read from any thread.
    struct Failure {
        RTSPMethod method;
        uint32_t status;
    };
    std::optional<Failure> LastFailure() const;

    // The time source of the keep-alive rule (FILETIME units) and the period
    // of its check; for tests. Set before StartClient.
    void SetClock(std::function<uint64_t()> fileTimeNow, uint32_t keepAliveCheckMs);
    // The bound of all reading once stopping; for tests. Set before StopClient.
    void SetStopReadBound(uint32_t ms, size_t bytes);

protected:
    bool Request(RTSPMethod method);
    bool SendRequest(RTSPMethod method);
    bool ReceiveResponse(std::string& reply);
    void KeepAlive();
    std::string BuildAuthorization(RTSPMethod method, const std::string& uri);

    std::string BaseUrl() const;
    std::string SetupUrl() const;
    std::string TransportLine() const;

private:
    void NoteFailure(RTSPMethod method);
    bool Connect(CEvent* abort);
    bool Send(RTSPMethod method);
    bool KeepAliveDue() const;
    bool RetryWithNewScheme();
    // Receives what arrives before the deadline (MonotonicMs); once stopping,
    // within the stop-time bound and a short wait for each read.
    platform::IoResult ReceiveSome(std::span<uint8_t> buffer, uint32_t deadlineMs);
    bool ReceivePlainResponse(std::string& reply);
    bool ReadReply(std::string& reply, uint32_t deadlineMs);
    bool ReceiveInterleavedResponse(std::string& reply);
    // A reply to an earlier request that went unanswered; forgets that request.
    bool IsLateReply(std::string_view reply);
    void NoteUnanswered(uint32_t cseq);
    void NoteShortReply(size_t arrived, size_t announced);
    void NoteSkippedBytes(uint64_t bytes);
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
    // Interleaved mode after PLAY: replies come between RTP frames.
    bool interleavedPlaying_ = false;
    // The CSeq of the last request sent, and of requests whose replies are
    // still out (the oldest first, a few at most).
    uint32_t sentCSeq_ = 0;
    std::vector<uint32_t> unanswered_;
    bool shortReplyLogged_ = false;
    uint64_t skippedBytes_ = 0;  // junk between interleaved frames, since the last message
    uint64_t skipEvents_ = 0;
    // Digest with qop: requests made with the current nonce.
    std::string countedNonce_;
    uint32_t nonceCount_ = 0;

    // Reading once stopping: the bound, and what is left of it.
    uint32_t stopReadMs_ = kStopReadMs;
    size_t stopReadBytes_ = kStopReadBytes;
    bool stopReadStarted_ = false;
    uint32_t stopReadDeadline_ = 0;  // MonotonicMs
    size_t stopReadLeft_ = 0;

    mutable std::mutex failureMutex_;  // guards failure_
    std::optional<Failure> failure_;

    std::function<uint64_t()> now_;
    uint32_t keepAliveCheckMs_ = 1000;
};

}  // namespace dravnel
