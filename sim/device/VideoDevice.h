// The simulated camera's video pages on a WebServer, with per-channel,
// per-stream settings (VideoSettings) that drive what its RtspServer streams.
//
//   "/video/video.php?app=get&ch=N[&strm=M]"         the channel's (Model B: one stream's) values
//   "/video/video.php?app=set&ch=N[&strm=M]&chN_strmM_name=value..."
//                                                    "res=200" and all applied, or "res=400" and none
//   "/system/network.php?app=get"                    "res=200&...&http_port=P&rtsp_port=Q"
//
// Any other "app" is answered "res=400". Replies are HTTP 200 with
// '&'-separated name=value entries. Every applied change of a stream that has
// an RTSP path (codec, res, fps, bitrate, gov, quality) is pushed to the
// RtspServer as the stream's configuration, so the next DESCRIBE gets it; the
// RTSP side is set up to match the settings at construction.
//
// Thread-safety: every member may be called from any thread while the pages
// serve requests. The pages share the device's state, so they keep answering
// after the VideoDevice is gone; from then on they no longer touch the
// RtspServer. Changes are pushed to the RtspServer while the state is held, so
// pushes arrive in the order the changes were made.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/device/VideoSettings.h"
#include "sim/rtsp/RtspServer.h"
#include "sim/web/WebServer.h"

namespace dravnel::sim {

class VideoDevice {
public:
    // Told of every answered set request: its target, whether it was applied,
    // and why not. Called on a server thread, without the device's state held;
    // a call under way may still finish after the observer was replaced.
    using SetObserver = std::function<void(const std::string& target, bool accepted, const std::string& reason)>;

    // `rtsp` (may be null) is borrowed and must outlive this object.
    VideoDevice(WebServer& web, RtspServer* rtsp, DeviceProfile profile, unsigned channels, bool ntsc);
    ~VideoDevice();
    VideoDevice(const VideoDevice&) = delete;
    VideoDevice& operator=(const VideoDevice&) = delete;

    unsigned Channels() const;

    // The value of key "ch<channel>_strm<stream>_<name>" (empty when absent).
    std::string Get(unsigned channel, unsigned stream, const std::string& name) const;
    // Sets a value directly (test setup, no checks); pushes to the RTSP side
    // like a CGI set when the stream then makes a streamable configuration.
    void Set(unsigned channel, unsigned stream, const std::string& name, const std::string& value);
    // The device stops reporting the value, and refuses to set it.
    void Remove(unsigned channel, unsigned stream, const std::string& name);

    void SetRtspPort(uint16_t port);
    void SetHttpPort(uint16_t port);

    // The RTSP path and configuration of a stream, as the settings stand.
    std::string RtspPath(unsigned channel, unsigned stream) const;
    RtspStreamConfig RtspConfig(unsigned channel, unsigned stream) const;

    size_t SetRequestCount() const;                // app=set requests answered (any result)
    std::vector<std::string> SetRequests() const;  // their targets, in order
    std::string LastRejection() const;             // why the last refused set was refused
    // Configurations the RtspServer did not take, and why.
    std::vector<std::string> Messages() const;

    void ObserveSets(SetObserver observer);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dravnel::sim
