#include "tools/cli/StreamSession.h"

#include <chrono>
#include <filesystem>
#include <memory>

#include "platform/Terminal.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/StatusBoard.h"
#include "tools/cli/TransportFile.h"
#include "tools/host/ChannelSink.h"

namespace dravnel::cli {

std::string ChannelOutputPath(const std::string& out, unsigned index, bool several) {
    if (!several) return out;
    const std::filesystem::path path(out);
    return (path.parent_path() / (path.stem().string() + "-" + std::to_string(index) + path.extension().string()))
        .string();
}

std::string FormatChannelLine(const ChannelResult& channel, const char* state, double fps, double kbps) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "[ch %u] %-10s %6llu frames %5.1f fps %7.0f kbit/s %5llu key %3u reconnects  %ux%u", channel.index,
                  state, static_cast<unsigned long long>(channel.figures.frames), fps, kbps,
                  static_cast<unsigned long long>(channel.figures.keyFrames), channel.reconnects, channel.figures.width,
                  channel.figures.height);
    return channel.loss.empty() ? std::string(line) : std::string(line) + "  " + channel.loss;
}

std::string StreamFileExtension(int codec) {
    if (codec == 1) return ".mjpeg";
    if (codec == 2) return ".m4v";
    return ".h264";
}

std::string NoVideoReason(const std::vector<host::DebugLine>& diagnostics, unsigned index) {
    static const std::string kMark = " gets no video: ";
    const std::string channel = "(channel " + std::to_string(index) + ")";
    for (auto line = diagnostics.rbegin(); line != diagnostics.rend(); ++line) {
        const size_t at = line->text.find(kMark);
        if (at == std::string::npos) continue;
        // Lines of a device with several channels name theirs.
        const bool named = line->text.find("(channel ") < at;
        if (named && line->text.find(channel) > at) continue;
        return line->text.substr(at + kMark.size());
    }
    return {};
}

StreamResult RunStream(const StreamSettings& settings, FILE* out) {
    StreamResult result;
    StatusBoard board(out);
    TransportFile transport;
    if (!settings.transport.empty()) {
        std::string error;
        if (!transport.Apply(settings.device.address, settings.device.port, settings.transport, error)) {
            result.error = error;
            return result;
        }
        if (!settings.quiet)
            board.PrintLine("transport: " + settings.transport + " (written to " + transport.WrittenPath() +
                            " for this run)");
    }

    HostSession session(settings.device);
    const bool quiet = settings.quiet;
    if (!session.Open([&board, quiet](const host::DebugLine& line) {
            if (!quiet) board.PrintLine(FormatDebugLine(line));
        })) {
        result.error = "the driver could not be opened";
        return result;
    }
    result.opened = true;
    auto* capture = session.driver()->GetVideoCapture();
    if (!capture) {
        result.error = "the driver gave no video capture";
        return result;
    }

    const bool several = settings.channels.size() > 1;
    std::vector<std::unique_ptr<StreamSink>> sinks;
    host::ChannelDescription description;
    description.width = settings.width;
    description.height = settings.height;
    description.modeWord = settings.quality;
    // The frame rate itself, marked as such, rather than a rounded interval.
    description.frameInterval = 0x7000 | (settings.fps & 0x0FFF);
    for (unsigned index : settings.channels) {
        ChannelResult channel;
        channel.index = index;
        channel.path = ChannelOutputPath(settings.out, index, several);
        auto sink = std::make_unique<StreamSink>();
        std::error_code ec;
        const auto parent = std::filesystem::path(channel.path).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent, ec);
        std::string error;
        if (!sink->Open(channel.path, error)) {
            result.error = error;
            return result;
        }
        channel.started = capture->StartChannel(index, sink.get(), &description);
        if (!channel.started) board.PrintLine("channel " + std::to_string(index) + " could not be started");
        result.channels.push_back(channel);
        sinks.push_back(std::move(sink));
    }

    if (!quiet) board.Start(result.channels.size());
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    std::vector<StreamFigures> previous(result.channels.size());
    std::vector<bool> wasStreaming(result.channels.size(), false);
    auto lastDraw = begin;
    for (;;) {
        const bool stop = platform::WaitForStopRequest(250);
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - begin).count();
        const double window = std::chrono::duration<double>(now - lastDraw).count();
        const bool draw = window >= 1.0 || stop;
        std::vector<std::string> lines;
        for (size_t i = 0; i < result.channels.size(); ++i) {
            auto& channel = result.channels[i];
            int state = 2, detail = 0;
            char loss[128] = {};
            const bool known = capture->GetChannelStatus(channel.index, &state, &detail, loss, sizeof loss);
            if (known) channel.loss = loss;
            const bool streaming = known && state == 0;
            if (wasStreaming[i] && !streaming) ++channel.reconnects;
            wasStreaming[i] = streaming;
            channel.figures = sinks[i]->Snapshot();
            if (!draw) continue;
            const double fps = window > 0 ? (channel.figures.frames - previous[i].frames) / window : 0;
            const double kbps = window > 0 ? (channel.figures.bytes - previous[i].bytes) * 8.0 / 1000.0 / window : 0;
            previous[i] = channel.figures;
            lines.push_back(FormatChannelLine(channel,
                                              !channel.started ? "not started"
                                              : streaming      ? "streaming"
                                                               : "no signal",
                                              fps, kbps));
        }
        if (draw && !quiet) {
            board.Update(lines, static_cast<int>(elapsed) % 5 == 0 || stop);
            lastDraw = now;
        }
        if (stop || (settings.seconds > 0 && elapsed >= settings.seconds)) break;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();

    for (const auto& channel : result.channels) capture->StopChannel(channel.index);
    for (size_t i = 0; i < sinks.size(); ++i) {
        sinks[i]->Close();
        result.channels[i].figures = sinks[i]->Snapshot();
    }
    session.Close();
    board.Stop();
    result.diagnostics = session.debug().Lines();
    return result;
}

}  // namespace dravnel::cli
