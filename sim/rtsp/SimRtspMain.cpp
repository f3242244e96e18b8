// quarnel-sim-rtsp: the media process of the simulated camera.
//
// Reads control lines (ControlLine) on standard input and writes answers and
// reports on descriptor 3; standard output is left to GStreamer's own chatter.
// Every command carries "id" and is answered with "ok id=N" or
// "err id=N message=...":
//
//   listen port=N                        -> ok id=.. port=<bound port>
//   stream path=/1/stream1 codec=H264 width=.. height=.. fps=.. bitrate=.. gop=.. quality=..
//   auth mode=none|basic|digest user=.. password=.. [realm=..]
//   rtp on=0|1 [path=..]
//   describe status=0|<RTSP status>
//   timeout seconds=N
//   rtcp ms=N                            (least time between RTCP reports)
//   alarm bits=N                         (the alarm byte of streams with alarm data)
//   drop
//   replay file=PATH                     (paths mounted later replay the RTP
//                                         recording; an empty file: encoders)
//   garbage bytes=<bytes>
//
// Reports: "open conn=", "close conn=", "request conn= method= url=
// cseq= authorization= transport= session= agent= status= reply-session=
// reply-transport=".
//
// End of input ends the process at once (_exit): nothing of the server is torn
// down gracefully, exactly as when a camera loses power.
#include <gst/gst.h>
#include <gst/rtsp/gstrtspdefs.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>

#include "sim/rtsp/ControlLine.h"
#include "sim/rtsp/MediaServer.h"
#include "sim/rtsp/RtpRecording.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// GStreamer and GLib keep their type system and caches until exit, by design;
// the process ends with _exit anyway, so leak reports here would only be noise.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif
#endif

namespace {

using dravnel::sim::ControlLine;
using dravnel::sim::MediaServer;
using dravnel::sim::RtpRecording;
using dravnel::sim::RtspStreamConfig;

constexpr int kReportFd = 3;

// Reports come from the main loop (answers, new connections) and from the
// RTSP server's client thread (requests, closed connections) at the same
// time, so each line goes out whole under a lock, unbuffered: a shared
// buffered GIOChannel let one thread's flush cut into the other's line and
// lose or repeat it.
class Reporter {
public:
    void Send(const ControlLine& line) {
        const std::string text = line.Format();
        std::lock_guard<std::mutex> guard(mutex_);
        for (size_t sent = 0; sent < text.size();) {
            const ssize_t n = write(kReportFd, text.data() + sent, text.size() - sent);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(0);  // the controlling process has gone
            sent += static_cast<size_t>(n);
        }
    }

private:
    std::mutex mutex_;
};

struct App {
    Reporter reporter;
    MediaServer server{[this](const ControlLine& line) { reporter.Send(line); }};
    std::string pending;
};

std::string Execute(App& app, const ControlLine& command, ControlLine& answer) {
    const std::string& verb = command.Verb();
    MediaServer& server = app.server;
    if (verb == "listen") {
        auto port = command.GetNumber("port");
        if (!port || *port > 65535) return "listen needs a port";
        uint16_t bound = 0;
        std::string error = server.Listen(static_cast<uint16_t>(*port), bound);
        if (error.empty()) answer.Set("port", bound);
        return error;
    }
    if (verb == "stream") {
        auto config = RtspStreamConfig::From(command);
        if (!config) return "stream needs codec, width, height, fps, bitrate, gop and quality";
        return server.SetStream(command.Get("path"), *config);
    }
    if (verb == "auth") {
        return server.SetAuth(command.Get("mode"), command.Get("user"), command.Get("password"), command.Get("realm"));
    }
    if (verb == "rtp") {
        auto on = command.GetNumber("on");
        if (!on || *on > 1) return "rtp needs on=0 or on=1";
        server.SetRtpSending(command.Get("path"), *on == 1);
        return {};
    }
    if (verb == "describe") {
        auto status = command.GetNumber("status");
        if (!status || (*status != 0 && (*status < 300 || *status > 599 ||
                                         !gst_rtsp_status_as_text(static_cast<GstRTSPStatusCode>(*status)))))
            return "describe needs status 0 or a known RTSP status from 300 to 599";
        server.SetDescribeRefusal(*status);
        return {};
    }
    if (verb == "timeout") {
        auto seconds = command.GetNumber("seconds");
        if (!seconds || *seconds < 1 || *seconds > 3600) return "timeout needs seconds 1 to 3600";
        server.SetSessionTimeout(*seconds);
        return {};
    }
    if (verb == "rtcp") {
        auto ms = command.GetNumber("ms");
        if (!ms || *ms < 100 || *ms > 60000) return "rtcp needs ms 100 to 60000";
        server.SetRtcpInterval(*ms);
        return {};
    }
    if (verb == "alarm") {
        auto bits = command.GetNumber("bits");
        if (!bits || *bits > 255) return "alarm needs bits 0 to 255";
        server.SetAlarmBits(static_cast<uint8_t>(*bits));
        return {};
    }
    if (verb == "replay") {
        const std::string file = command.Get("file");
        if (file.empty()) {
            server.SetReplay(nullptr);
            return {};
        }
        gchar* contents = nullptr;
        gsize size = 0;
        GError* failure = nullptr;
        if (!g_file_get_contents(file.c_str(), &contents, &size, &failure)) {
            std::string reason = "cannot read " + file + ": " + (failure ? failure->message : "unknown error");
            g_clear_error(&failure);
            return reason;
        }
        std::string error;
        auto recording = RtpRecording::Parse({reinterpret_cast<const uint8_t*>(contents), size}, error);
        g_free(contents);
        if (!recording) return file + ": " + error;
        answer.Set("summary", recording->Summary());
        server.SetReplay(std::make_shared<const RtpRecording>(std::move(*recording)));
        return {};
    }
    if (verb == "drop") {
        server.DropConnections();
        return {};
    }
    if (verb == "garbage") {
        server.SendGarbage(command.Get("bytes"));
        return {};
    }
    return "unknown command " + verb;
}

void HandleLine(App& app, const std::string& text) {
    auto command = ControlLine::Parse(text);
    if (!command) {
        app.reporter.Send(ControlLine("err").Set("message", "unreadable command: " + text));
        return;
    }
    ControlLine answer("ok");
    answer.Set("id", command->Get("id"));
    std::string error = Execute(app, *command, answer);
    if (!error.empty()) {
        answer = ControlLine("err");
        answer.Set("id", command->Get("id")).Set("message", error);
    }
    app.reporter.Send(answer);
}

gboolean OnInput(GIOChannel* channel, GIOCondition, gpointer data) {
    auto& app = *static_cast<App*>(data);
    char buffer[4096];
    for (;;) {
        gsize got = 0;
        GIOStatus status = g_io_channel_read_chars(channel, buffer, sizeof buffer, &got, nullptr);
        if (got > 0) app.pending.append(buffer, got);
        if (status == G_IO_STATUS_AGAIN) break;
        if (status != G_IO_STATUS_NORMAL) _exit(0);  // end of input: power off
    }
    size_t newline;
    while ((newline = app.pending.find('\n')) != std::string::npos) {
        std::string line = app.pending.substr(0, newline);
        app.pending.erase(0, newline + 1);
        HandleLine(app, line);
    }
    if (app.pending.size() > 65536) _exit(2);  // no line that long is ever sent
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    App app;

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_channel_set_encoding(input, nullptr, nullptr);
    g_io_channel_set_buffered(input, FALSE);
    g_io_channel_set_flags(input, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnInput, &app);

    app.reporter.Send(ControlLine("hello").Set(
        "version", GST_VERSION_MAJOR * 10000ull + GST_VERSION_MINOR * 100ull + GST_VERSION_MICRO));
    g_main_loop_run(loop);
    _exit(0);
}
