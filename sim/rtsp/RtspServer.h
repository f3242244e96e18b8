// The simulated camera's RTSP/RTP side: an RTSP 1.0 server on 127.0.0.1 with
// real encoders (GStreamer), serving "/N/streamM" in the codec, size and frame
// rate currently configured, over RTP/UDP (client_port) or interleaved on the
// RTSP connection, with RTCP sender reports, optional Basic or Digest
// authentication, fault switches and a request log.
//
// GStreamer runs in a child process (quarnel-sim-rtsp, found next to the
// running executable unless Options::executable says otherwise) that this
// object spawns and drives over a pipe, so the calling process carries no
// GStreamer thread or global state. Per running server, this process holds
// one supervisor thread (which spawns the child, reads its reports and reaps
// it) and three descriptors. Stop, Restart and the destructor end the child
// and join the thread; the child also dies with the supervisor thread
// (PR_SET_PDEATHSIG), so a crashed test leaves no server behind.
//
// Configuration (streams, authentication, fault switches, session time-out,
// RTCP interval) lives in this object: it can be set before Start, is applied
// at once while running, and is replayed to the new child on Restart. Stream changes take
// effect for the next DESCRIBE; sessions set up earlier keep their media.
// Authentication changes apply to connections opened later.
//
// Example:
//   dravnel::sim::RtspServer server;                 // /1../4/stream0..2 mounted
//   server.SetStream(dravnel::sim::StreamPath(1, 1), {.codec = RtspCodec::H264,
//                    .width = 1280, .height = 720, .fps = 15});
//   server.SetAuth(RtspServer::Auth::Digest, "admin", "secret");
//   if (!server.Start()) FAIL() << server.LastError();
//   std::string url = server.Url("/1/stream1");      // rtsp://127.0.0.1:<port>/1/stream1
//   ... auto teardown = server.Log().WaitFor("TEARDOWN", 5000);
//
// Thread-safety: every member may be called from any thread; control calls
// (Start, Stop, Restart, the setters, DropConnections) are serialised.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "sim/rtsp/ControlLine.h"
#include "sim/rtsp/RtspRequestLog.h"
#include "sim/rtsp/RtspStreamConfig.h"

namespace dravnel::sim {

class RtspServer {
public:
    enum class Auth { None, Basic, Digest };

    struct Options {
        std::string executable;  // empty: quarnel-sim-rtsp in the running program's directory
        // Channels whose "/N/stream0" to "/N/stream2" are mounted from the start:
        // streams 0 and 1 H.264 640x480 at 25 fps, stream 2 JPEG 640x480 at 10 fps.
        unsigned channels = 4;
        // The first start on a machine may rebuild GStreamer's plugin registry.
        uint32_t startTimeoutMs = 60000;
        uint32_t commandTimeoutMs = 10000;
    };

    RtspServer();
    explicit RtspServer(Options options);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    // Listens on 127.0.0.1:port (0: a free port, see Port()). False with
    // LastError() when the child cannot run or the port is taken.
    bool Start(uint16_t port = 0);
    // The server goes away with every connection; no child, thread or port
    // remains. Idempotent.
    void Stop();
    // Stop, then Start on the same port with the same configuration.
    bool Restart();

    bool Running() const;
    uint16_t Port() const { return port_.load(); }
    // "rtsp://127.0.0.1:<port><path>"; with user and password when given.
    std::string Url(const std::string& path, const std::string& user = {}, const std::string& password = {}) const;
    int ChildPid() const { return child_.Pid(); }
    std::string LastError() const;
    // Diagnostics about the child (start failures, unexpected ends).
    std::vector<std::string> Messages() const;

    // Each is false with LastError() on invalid input or a failed command.
    bool SetStream(const std::string& path, const RtspStreamConfig& config);
    std::optional<RtspStreamConfig> Stream(const std::string& path) const;
    // An empty realm keeps the server's default.
    bool SetAuth(Auth mode, const std::string& user = {}, const std::string& password = {},
                 const std::string& realm = {});
    // Fault: stop (or resume) sending RTP on a path, or on every path when
    // the path is empty; sessions stay up and RTCP goes on.
    bool SetSendingRtp(bool on, const std::string& path = {});
    // Fault: answer DESCRIBE with `status` (no SDP) until switched back.
    bool SetDescribeRefused(bool refused, unsigned status = 503);
    // Session time-out announced in "Session: ...;timeout=N" (default 60 s);
    // for sessions created later.
    bool SetSessionTimeout(unsigned seconds);
    // Least time between RTCP sender reports (default 5000 ms, as rtpbin);
    // for media prepared later. 100 to 60000 ms.
    bool SetRtcpInterval(unsigned ms);
    // Fault: end every session and close every RTSP connection now.
    bool DropConnections();
    // Fault: write these bytes, unframed, on every RTSP connection now.
    bool SendGarbage(const std::string& bytes);
    // The alarm bits that streams with alarm data carry from now on.
    bool SetAlarmBits(uint8_t bits);
    // Replay mode: every stream configured later (and at the next Start)
    // plays this RFC 4571 RTP recording in a loop, paced per frame and
    // rewritten per session (see ReplaySource), instead of encoding a test
    // picture; an empty file switches back. A file that cannot be read or
    // parsed fails the call (or Start) with the reason.
    bool SetReplay(const std::string& file);
    // "H.264, 150 frames in 6.0 s, ..." once the media process has read the
    // recording; empty before.
    std::string ReplaySummary() const;

    RtspRequestLog& Log() { return log_; }
    const RtspRequestLog& Log() const { return log_; }

private:
    struct State {
        Auth auth = Auth::None;
        std::string user, password, realm;
        std::map<std::string, RtspStreamConfig> streams;
        bool allRtpStopped = false;
        std::set<std::string> rtpStopped;
        unsigned describeRefusal = 0;
        unsigned sessionTimeout = 60;
        unsigned rtcpIntervalMs = 5000;
        unsigned alarmBits = 0;
        std::string replayFile;
    };

    bool StartLocked(uint16_t port);
    void StopLocked();
    void Supervise(platform::ChildProcess::Spec spec);
    void HandleReport(const std::string& text);
    // Sends a command to the running child and waits for its answer.
    std::optional<ControlLine> Command(ControlLine command);
    bool Apply(ControlLine command);
    // A setter's change: recorded for replay, then sent to a running child.
    bool Change(const std::function<void(State&)>& update, ControlLine command);
    std::vector<ControlLine> ReplayCommands() const;
    void SetError(std::string error);
    void Note(std::string message);

    const Options options_;
    RtspRequestLog log_;
    platform::ChildProcess child_;
    platform::Thread supervisor_;
    platform::Event stop_{platform::Event::Mode::Manual};

    std::mutex control_;  // serialises the control calls; held while commands run

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    State state_;
    bool spawned_ = false;
    bool greeted_ = false;  // the child's "hello": GStreamer is up
    bool childAlive_ = false;
    bool listening_ = false;
    std::string spawnError_;
    uint64_t nextCommand_ = 1;
    std::map<uint64_t, ControlLine> answers_;
    std::map<uint64_t, std::string> abandoned_;  // commands no longer waited for, by id: their verbs
    std::string lastError_;
    std::vector<std::string> messages_;
    std::string replaySummary_;

    std::atomic<uint16_t> port_{0};
};

}  // namespace dravnel::sim
