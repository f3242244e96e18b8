// quarnel demo: the simulated camera, streamed over UDP and then interleaved,
// with the files checked by FFmpeg.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "sim/device/SimCamera.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Options.h"
#include "tools/cli/StreamSession.h"

namespace dravnel::cli {

namespace {

struct FileCheck {
    bool ran = false;
    std::string codec;
    uint32_t width = 0, height = 0;
    uint64_t frames = 0;
    std::string errors;  // what FFmpeg said while decoding every frame
};

FileCheck CheckWithFfmpeg(const std::string& path) {
    FileCheck check;
    const auto probe = platform::RunProgram(
        "ffprobe",
        {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,width,height,nb_read_frames", "-of", "default=noprint_wrappers=1", path},
        60000);
    if (probe.exitCode != 0) {
        check.errors = probe.output.empty() ? "ffprobe could not run" : probe.output;
        return check;
    }
    check.ran = true;
    size_t start = 0;
    while (start < probe.output.size()) {
        size_t end = probe.output.find('\n', start);
        if (end == std::string::npos) end = probe.output.size();
        const std::string line = probe.output.substr(start, end - start);
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
            uint32_t n = 0;
            if (key == "codec_name") check.codec = value;
            if (key == "width" && ParseUnsigned(value, n)) check.width = n;
            if (key == "height" && ParseUnsigned(value, n)) check.height = n;
            if (key == "nb_read_frames" && ParseUnsigned(value, n)) check.frames = n;
        } else if (!line.empty()) {
            check.errors += line + "\n";
        }
        start = end + 1;
    }
    const auto decode = platform::RunProgram("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, 60000);
    check.errors += decode.output;
    if (decode.exitCode != 0 && decode.output.empty()) check.errors += "ffmpeg failed\n";
    return check;
}

const char* CodecName(int codec) { return codec == 1 ? "MJPEG" : codec == 2 ? "MPEG-4" : "H.264"; }

}  // namespace

int RunDemoCommand(const std::vector<std::string>& args) {
    uint32_t seconds = 7;
    std::string outDir = "out";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::printf(
                "usage: quarnel demo [--seconds N] [--out-dir DIR]\n"
                "\n"
                "Starts the simulated camera on 127.0.0.1 (Digest authentication on HTTP and\n"
                "RTSP), opens it with the driver as a recorder does, streams H.264 from it for\n"
                "N seconds over RTP/UDP (default 7) and N seconds interleaved on the RTSP\n"
                "connection, then MJPEG over UDP and MPEG-4 interleaved for N/2 seconds each\n"
                "(at least 3);\n"
                "writes DIR/demo-udp.h264, DIR/demo-interleaved.h264, DIR/demo-udp.mjpeg and\n"
                "DIR/demo-interleaved.m4v (default DIR: out), checks each with ffprobe and\n"
                "ffmpeg, and prints a summary.\n");
            return 0;
        }
        if (args[i] == "--seconds" && i + 1 < args.size() && ParseUnsigned(args[i + 1], seconds) && seconds > 0 &&
            seconds <= 3600) {
            ++i;
        } else if (args[i] == "--out-dir" && i + 1 < args.size() && !args[i + 1].empty()) {
            outDir = args[++i];
        } else {
            std::fprintf(stderr, "quarnel demo: bad option '%s' (see quarnel demo --help)\n", args[i].c_str());
            return 2;
        }
    }

    dravnel::sim::SimCameraOptions cameraOptions;
    cameraOptions.webAuth = dravnel::sim::WebAuth::Digest;
    cameraOptions.rtspAuth = dravnel::sim::RtspServer::Auth::Digest;
    cameraOptions.user = "admin";
    cameraOptions.password = "quarnel-demo";
    dravnel::sim::SimCamera camera(cameraOptions);
    std::printf("== starting the simulated camera\n");
    if (!camera.Start()) {
        std::fprintf(stderr, "quarnel demo: the simulated camera did not start: %s\n", camera.LastError().c_str());
        return 1;
    }
    std::printf("   HTTP  http://127.0.0.1:%u/  RTSP rtsp://127.0.0.1:%u/1/stream1  (Digest, %s/%s)\n",
                static_cast<unsigned>(camera.WebPort()), static_cast<unsigned>(camera.RtspPort()),
                cameraOptions.user.c_str(), cameraOptions.password.c_str());

    struct Run {
        const char* transport;
        int codec;  // 1 MJPEG, 2 MPEG-4, 3 H.264
        uint32_t seconds;
        StreamResult result;
        FileCheck check;
        std::string path;
    };
    // A new encoder and the first key frame take a moment: at least 3 s.
    const uint32_t shortRun = std::max(3u, seconds / 2);
    std::vector<Run> runs = {{"udp", 3, seconds, {}, {}, {}},
                             {"interleaved", 3, seconds, {}, {}, {}},
                             {"udp", 1, shortRun, {}, {}, {}},
                             {"interleaved", 2, shortRun, {}, {}, {}}};
    for (auto& run : runs) {
        if (platform::StopRequested()) break;
        StreamSettings settings;
        settings.device.address = "127.0.0.1";
        settings.device.port = camera.WebPort();
        settings.device.user = cameraOptions.user;
        settings.device.password = cameraOptions.password;
        settings.device.codec = run.codec;
        settings.device.model = "Quarnel simulated camera";
        settings.device.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "1"}, {5, "(none)"}, {6, "1.0.0"}};
        settings.channels = {0};
        settings.width = 704;
        settings.height = 576;
        settings.fps = 25;
        settings.quality = 60;
        settings.seconds = run.seconds;
        settings.transport = run.transport;
        settings.out = outDir + "/demo-" + run.transport + StreamFileExtension(run.codec);
        run.path = settings.out;
        std::printf("\n== streaming channel 0 (%s) over %s for %u s into %s\n", CodecName(run.codec), run.transport,
                    run.seconds, settings.out.c_str());
        run.result = RunStream(settings, stdout);
        if (!run.result.opened) {
            std::fprintf(stderr, "quarnel demo: %s\n", run.result.error.c_str());
            return 1;
        }
        run.check = CheckWithFfmpeg(run.path);
    }
    camera.Stop();

    std::printf("\n== summary\n");
    bool ok = !runs.empty();
    for (const auto& run : runs) {
        const ChannelResult* channel = run.result.channels.empty() ? nullptr : &run.result.channels[0];
        const uint64_t frames = channel ? channel->figures.frames : 0;
        const double fps = run.result.seconds > 0 ? frames / run.result.seconds : 0;
        size_t errors = 0, warnings = 0, online = 0;
        for (const auto& line : run.result.diagnostics) {
            errors += line.level == 1;
            warnings += line.level == 2;
            online += line.text.find(" is online") != std::string::npos;
        }
        const bool clean =
            run.check.ran && run.check.errors.empty() && frames > 0 && run.check.frames >= frames * 9 / 10;
        ok = ok && clean;
        std::printf(
            "%-5s %-12s %5llu frames  %5.1f fps  %ux%u  %s  %llu key  %u reconnects  ffprobe: %s %llu frames %ux%u  "
            "%s\n",
            CodecName(run.codec), run.transport, static_cast<unsigned long long>(frames), fps,
            channel ? channel->figures.width : 0, channel ? channel->figures.height : 0, run.path.c_str(),
            static_cast<unsigned long long>(channel ? channel->figures.keyFrames : 0),
            channel ? channel->reconnects : 0, run.check.codec.c_str(),
            static_cast<unsigned long long>(run.check.frames), run.check.width, run.check.height,
            clean ? "decodes cleanly" : "FAILED");
        std::printf("                   diagnostics: %zu errors, %zu warnings, camera online %zu time(s)\n", errors,
                    warnings, online);
        for (const auto& line : run.result.diagnostics)
            if (line.level <= 2) std::printf("               [%d] %s\n", line.level, line.text.c_str());
        if (!run.check.errors.empty()) std::printf("             ffmpeg: %s\n", run.check.errors.c_str());
    }
    std::printf(ok ? "\ndemo passed: every file decodes without an error\n" : "\ndemo FAILED\n");
    return ok ? 0 : 1;
}

}  // namespace dravnel::cli
