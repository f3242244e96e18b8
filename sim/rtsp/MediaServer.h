// The GStreamer RTSP server of the media process (quarnel-sim-rtsp): one
// shared media factory per mounted path, optional Basic or Digest
// authentication, the fault switches, and a report of every connection and of
// every answered request.
//
// Each request is reported when its answer goes out (the client's
// "send-message" signal), so the record holds the request's method, URL,
// CSeq, Authorization, Transport, Session and User-Agent together with the
// status and the Session and Transport of the answer. Requests the server
// answers itself (a 401 from the authentication, a refused DESCRIBE) are
// reported the same way.
//
// Streams with alarm data get, in front of every VOP of their RTP payloads, a
// user data block that carries the alarm bits:
//
//   00 00 01 B2  'A' 'L' 'A' 'R' 'M'  bits  FF FF        (bits at offset 9)
//
// Thread-safety: the commands run on the thread of the default GLib main
// context; the server's client connections are served on a thread of its
// pool, and DropConnections leaves the closing of each to that thread. The probes
// (streaming threads) only read the RTP switches, which a mutex guards, and
// the alarm bits, an atomic; the settings the client callbacks read are
// atomic too, and the report function is called from every one of these
// threads.
#pragma once

#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "sim/rtsp/ControlLine.h"
#include "sim/rtsp/RtpRecording.h"
#include "sim/rtsp/RtspStreamConfig.h"

namespace dravnel::sim {

class MediaServer {
public:
    using Report = std::function<void(const ControlLine&)>;

    explicit MediaServer(Report report);
    ~MediaServer();
    MediaServer(const MediaServer&) = delete;
    MediaServer& operator=(const MediaServer&) = delete;

    // Each returns an empty text on success, else the reason.
    std::string Listen(uint16_t port, uint16_t& bound);
    // Mounts (or replaces) the factory of a path; sessions already set up
    // keep the media they have, the next DESCRIBE gets the new one.
    std::string SetStream(const std::string& path, const RtspStreamConfig& config);
    // With a recording, paths mounted later replay it (ReplaySource) whatever
    // their configuration says, one media per session; null: encoders again.
    void SetReplay(std::shared_ptr<const RtpRecording> recording) { replay_ = std::move(recording); }
    // mode "none", "basic" or "digest"; applies to connections opened later.
    std::string SetAuth(const std::string& mode, const std::string& user, const std::string& password,
                        const std::string& realm);
    // An empty path switches every path (and clears the per-path switches).
    void SetRtpSending(const std::string& path, bool on);
    // 0 answers DESCRIBE normally; any other status refuses it with that status.
    void SetDescribeRefusal(unsigned status) { describeRefusal_ = status; }
    void SetSessionTimeout(unsigned seconds) { sessionTimeout_ = seconds; }
    // Least time between RTCP reports of media prepared later.
    void SetRtcpInterval(unsigned ms) { rtcpIntervalMs_ = ms; }
    // Ends every session now and shuts every client connection, which the
    // thread that serves it then closes.
    void DropConnections();
    // Writes these bytes, unframed, on every client connection now (a
    // misbehaving camera); connections and sessions stay.
    void SendGarbage(const std::string& bytes);
    // The byte the alarm user data of the streams that carry it holds.
    void SetAlarmBits(uint8_t bits) { alarmBits_.store(bits); }

private:
    struct ProbeContext;

    static void OnClientConnected(GstRTSPServer* server, GstRTSPClient* client, gpointer self);
    static void OnClientClosed(GstRTSPClient* client, gpointer self);
    static void OnNewSession(GstRTSPClient* client, GstRTSPSession* session, gpointer self);
    static GstRTSPStatusCode OnPreDescribe(GstRTSPClient* client, GstRTSPContext* ctx, gpointer self);
    static void OnSendMessage(GstRTSPClient* client, GstRTSPContext* ctx, GstRTSPMessage* message, gpointer self);
    static void OnMediaPrepared(GstRTSPMedia* media, gpointer self);
    static void OnMediaConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer context);
    static GstPadProbeReturn OnRtpBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer context);
    static GstPadProbeReturn OnAlarmData(GstPad* pad, GstPadProbeInfo* info, gpointer context);
    static GstPadProbeReturn OnSeekingQuery(GstPad* pad, GstPadProbeInfo* info, gpointer unused);
    static gboolean OnSessionCleanup(GstRTSPSessionPool* pool, gpointer self);

    bool RtpStopped(const std::string& path);

    Report report_;
    GstRTSPServer* server_ = nullptr;
    GstRTSPMountPoints* mounts_ = nullptr;
    GSource* cleanup_ = nullptr;
    std::atomic<unsigned> describeRefusal_{0};
    std::atomic<unsigned> sessionTimeout_{60};
    std::atomic<unsigned> rtcpIntervalMs_{5000};  // rtpsession's own default
    std::atomic<unsigned> nextConnection_{1};

    std::shared_ptr<const RtpRecording> replay_;
    std::atomic<uint8_t> alarmBits_{0};
    std::mutex rtpMutex_;
    bool allRtpStopped_ = false;
    std::set<std::string> rtpStopped_;
};

}  // namespace dravnel::sim
