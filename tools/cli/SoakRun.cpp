#include "tools/cli/SoakRun.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/Process.h"
#include "platform/Terminal.h"
#include "tools/cli/HostSession.h"
#include "tools/cli/StreamSession.h"
#include "tools/cli/StreamSink.h"
#include "tools/cli/TransportFile.h"
#include "tools/host/ChannelSink.h"

namespace dravnel::cli {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t MsSince(Clock::time_point since, Clock::time_point now) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count());
}

// The host's sink of one soaked channel: the CLI's file sink, and the
// longest time between two frames.
class SoakSink : public dravnel::ipcapture::IHostChannelSink {
public:
    bool Open(const std::string& path, std::string& error) { return file_.Open(path, error); }
    void Close() { file_.Close(); }

    bool DeliverFrame(dravnel::ipcapture::IHostFrame* frame) override {
        const bool taken = file_.DeliverFrame(frame);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> guard(mutex_);
        if (frames_ > 0) longestGapMs_ = std::max(longestGapMs_, MsSince(last_, now));
        last_ = now;
        ++frames_;
        return taken;
    }
    void OnStreamSilent() override { file_.OnStreamSilent(); }

    uint64_t Frames() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return frames_;
    }
    uint32_t LongestGapMs() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return longestGapMs_;
    }
    uint64_t Silences() const { return file_.Snapshot().silences; }

private:
    StreamSink file_;
    mutable std::mutex mutex_;
    uint64_t frames_ = 0;
    Clock::time_point last_{};
    uint32_t longestGapMs_ = 0;
};

// The child's standard output, line by line.
class LineReader {
public:
    explicit LineReader(platform::ChildProcess& child) : child_(child) {}
    // Waits at most timeoutMs for more output; false once the output ended.
    bool Poll(uint32_t timeoutMs, const std::function<void(const std::string&)>& line) {
        uint8_t buffer[4096];
        const platform::IoResult got = child_.Read(buffer, timeoutMs);
        if (got.status == platform::IoStatus::Timeout) return true;
        if (got.status != platform::IoStatus::Ok) return false;
        pending_.append(reinterpret_cast<const char*>(buffer), got.bytes);
        size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            line(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
        return true;
    }

private:
    platform::ChildProcess& child_;
    std::string pending_;
};

std::string DecodeComplaints(const std::string& path) {
    const auto decode = platform::RunProgram("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, 120000);
    if (decode.exitCode == -1) return "ffmpeg could not run\n";
    if (decode.exitCode != 0 && decode.output.empty()) return "ffmpeg failed\n";
    return decode.output;
}

std::string FormatStats(const platform::ProcessStats& stats) {
    char text[128];
    std::snprintf(text, sizeof text, "%3u threads %4u descriptors %7.1f MB RSS %6.1f MB heap", stats.threads,
                  stats.descriptors, stats.residentBytes / 1048576.0, stats.heapInUseBytes / 1048576.0);
    return text;
}

}  // namespace

SoakResult RunSoak(const SoakSettings& settings, FILE* out) {
    SoakResult result;
    const auto say = [out](const std::string& line) {
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
    };

    // The camera, with its schedule waiting for our word.
    platform::ChildProcess sim;
    platform::ChildProcess::Spec spec;
    spec.executable =
        settings.simExecutable.empty() ? platform::ExecutableDirectory() + "quarnel" : settings.simExecutable;
    spec.arguments = {"sim", "--channels", std::to_string(settings.channels), "--fault-wait"};
    spec.arguments.insert(spec.arguments.end(), settings.faults.words.begin(), settings.faults.words.end());
    spec.reportFd = 1;
    if (!sim.Spawn(spec, result.error)) return result;
    LineReader lines(sim);
    uint16_t httpPort = 0;
    bool running = false;
    const auto simStart = Clock::now();
    while (!running && MsSince(simStart, Clock::now()) < 90000) {
        const bool more = lines.Poll(500, [&](const std::string& line) {
            static const std::string kHttp = "  HTTP   http://127.0.0.1:";
            if (line.rfind(kHttp, 0) == 0) httpPort = static_cast<uint16_t>(std::atoi(line.c_str() + kHttp.size()));
            if (line.rfind("Running ", 0) == 0) running = true;
        });
        if (!more || platform::StopRequested()) break;
    }
    if (!running || httpPort == 0) {
        result.error = "the simulated camera did not start";
        return result;
    }

    DeviceOptions device;
    device.port = httpPort;
    device.user = "admin";
    device.password = "admin";
    device.channels = settings.channels;
    device.parameters[2] = "0";
    device.parameters[4] = "1";
    TransportFile transport;
    if (!settings.transport.empty() && !transport.Apply(device.address, device.port, settings.transport, result.error))
        return result;

    // A host that kept every line would grow by itself and hide what the
    // driver holds.
    std::mutex linesMutex;
    std::map<int, SoakLevelLines> driverLines;
    HostSession session(device);
    if (!session.Open([&](const host::DebugLine& line) {
            std::lock_guard<std::mutex> guard(linesMutex);
            SoakLevelLines& level = driverLines[line.level];
            if (++level.count == 1) level.first = line.text;
            level.last = line.text;
        })) {
        result.error = "the driver could not be opened";
        return result;
    }
    auto* capture = session.driver()->GetVideoCapture();
    if (!capture) {
        result.error = "the driver gave no video capture";
        return result;
    }
    // A sanitizer's runtime starts a thread of its own along with the
    // process's first one; one started and joined here brings it about, so
    // the baseline does not count it out.
    std::thread([] {}).join();
    result.baseline = platform::CurrentProcessStats();
    result.samples.push_back({"start", 0, result.baseline});
    say("start        " + FormatStats(result.baseline));

    host::ChannelDescription description;
    description.width = settings.width;
    description.height = settings.height;
    description.modeWord = settings.quality;
    description.frameInterval = 0x7000 | (settings.fps & 0x0FFF);
    std::vector<std::unique_ptr<SoakSink>> sinks;
    for (unsigned index = 0; index < settings.channels; ++index) {
        SoakChannel channel;
        channel.index = index;
        auto sink = std::make_unique<SoakSink>();
        if (!settings.outDir.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(settings.outDir, ec);
            channel.path =
                (std::filesystem::path(settings.outDir) / ("soak-" + std::to_string(index) + ".h264")).string();
            if (!sink->Open(channel.path, result.error)) return result;
        }
        if (!capture->StartChannel(index, sink.get(), &description)) {
            result.error = "channel " + std::to_string(index) + " could not be started";
            return result;
        }
        result.channels.push_back(channel);
        sinks.push_back(std::move(sink));
    }

    std::vector<bool> wasStreaming(settings.channels, false);
    const auto pollStatus = [&] {
        for (size_t i = 0; i < result.channels.size(); ++i) {
            int state = 2, detail = 0;
            char loss[128] = {};
            const bool streaming =
                capture->GetChannelStatus(result.channels[i].index, &state, &detail, loss, sizeof loss) && state == 0;
            if (wasStreaming[i] && !streaming) ++result.channels[i].reconnects;
            wasStreaming[i] = streaming;
        }
    };
    const auto framesNow = [&] {
        std::vector<uint64_t> frames;
        for (const auto& sink : sinks) frames.push_back(sink->Frames());
        return frames;
    };
    // Every channel delivers a frame beyond `since`, within the bound.
    const auto waitAllStreaming = [&](const std::vector<uint64_t>& since, uint32_t boundMs) {
        const auto begin = Clock::now();
        for (;;) {
            const auto now = framesNow();
            bool all = true;
            for (size_t i = 0; i < now.size(); ++i) all = all && now[i] > since[i];
            if (all) return true;
            if (MsSince(begin, Clock::now()) >= boundMs || platform::StopRequested()) return false;
            pollStatus();
            session.debug().Clear();
            if (!lines.Poll(100, [](const std::string&) {})) return false;
        }
    };

    if (!waitAllStreaming(std::vector<uint64_t>(settings.channels, 0), settings.recoverMs)) {
        say("not every channel streams before the first fault; faults start anyway");
    }
    if (!sim.Write("faults start\n", 5000)) {
        result.error = "the simulated camera took no command";
        return result;
    }

    const uint32_t total = settings.faults.schedule.count;
    result.markFault = total >= 200 ? 100 : std::max<uint32_t>(1, total / 5);
    uint64_t rssAtMark = 0;
    std::vector<uint64_t> atLastFault = framesNow();
    const auto begin = Clock::now();
    auto lastSample = begin;
    bool ended = false;
    while (!ended) {
        session.debug().Clear();
        const bool more = lines.Poll(250, [&](const std::string& line) {
            if (line.find(" (failed: ") != std::string::npos) result.faultFailures.push_back(line);
            if (line.rfind("fault ", 0) != 0) return;
            const auto frames = framesNow();
            for (size_t i = 0; i < frames.size() && result.faults > 0; ++i)
                if (frames[i] > atLastFault[i]) ++result.channels[i].recovered;
            atLastFault = frames;
            ++result.faults;
            if (result.faults == result.markFault) {
                const auto stats = platform::CurrentProcessStats();
                rssAtMark = stats.residentBytes;
                result.samples.push_back({"fault " + std::to_string(result.faults), result.faults, stats});
                say("fault " + std::to_string(result.faults) +
                    std::string(8 - std::min<size_t>(8, std::to_string(result.faults).size()), ' ') +
                    FormatStats(stats));
            }
        });
        pollStatus();
        const auto now = Clock::now();
        if (MsSince(lastSample, now) >= settings.sampleSeconds * 1000u) {
            lastSample = now;
            const auto stats = platform::CurrentProcessStats();
            const std::string label = std::to_string(MsSince(begin, now) / 1000) + " s";
            result.samples.push_back({label, result.faults, stats});
            uint64_t frames = 0;
            for (const auto& sink : sinks) frames += sink->Frames();
            char progress[64];
            std::snprintf(progress, sizeof progress, "  %u faults, %llu frames", result.faults,
                          static_cast<unsigned long long>(frames));
            say(label + std::string(13 - std::min<size_t>(13, label.size()), ' ') + FormatStats(stats) + progress);
        }
        ended = !more || platform::StopRequested() || (total != 0 && result.faults >= total) ||
                (settings.seconds != 0 && MsSince(begin, now) >= settings.seconds * 1000u);
    }
    const auto endStats = platform::CurrentProcessStats();
    result.samples.push_back({"end", result.faults, endStats});
    result.rssGrowth =
        rssAtMark != 0 ? static_cast<int64_t>(endStats.residentBytes) - static_cast<int64_t>(rssAtMark) : 0;
    say("end          " + FormatStats(endStats));

    // The last fault ends (a held one after its hold), then every channel
    // streams again within the bound.
    const uint32_t hold = settings.faults.schedule.HoldMs();
    const auto cleared = Clock::now();
    while (MsSince(cleared, Clock::now()) < hold && lines.Poll(100, [](const std::string&) {})) pollStatus();
    result.allRecovered = waitAllStreaming(framesNow(), settings.recoverMs);
    const auto finalFrames = framesNow();
    for (size_t i = 0; i < finalFrames.size(); ++i) {
        result.channels[i].streamsAtEnd = finalFrames[i] > atLastFault[i];
        if (result.channels[i].streamsAtEnd) ++result.channels[i].recovered;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();

    for (const auto& channel : result.channels) capture->StopChannel(channel.index);
    // The files were opened after the baseline was taken.
    for (auto& sink : sinks) sink->Close();
    // Threads and descriptors of the stopped channels are gone when StopChannel
    // returns; a short bound covers what the kernel reports late.
    const auto stopped = Clock::now();
    do {
        result.afterStop = platform::CurrentProcessStats();
        result.backAtBaseline = result.afterStop.threads <= result.baseline.threads &&
                                result.afterStop.descriptors <= result.baseline.descriptors;
    } while (!result.backAtBaseline && MsSince(stopped, Clock::now()) < 5000 && !platform::WaitForStopRequest(20));
    result.samples.push_back({"after stop", result.faults, result.afterStop});
    say("after stop   " + FormatStats(result.afterStop));

    for (size_t i = 0; i < sinks.size(); ++i) {
        auto& channel = result.channels[i];
        channel.frames = sinks[i]->Frames();
        channel.longestGapMs = sinks[i]->LongestGapMs();
        channel.silences = sinks[i]->Silences();
    }
    session.Close();
    {
        std::lock_guard<std::mutex> guard(linesMutex);
        result.lines = driverLines;
    }
    sim.Write("quit\n", 1000);
    sim.CloseInput();
    if (!sim.WaitExit(15000)) sim.Kill();

    for (auto& channel : result.channels) {
        if (channel.path.empty()) continue;
        channel.decodeErrors = DecodeComplaints(channel.path);
        channel.decodeChecked = true;
        if (!channel.decodeErrors.empty()) result.decodeClean = false;
    }
    return result;
}

void PrintSoakReport(const SoakResult& result, FILE* out) {
    if (!result.error.empty()) {
        std::fprintf(out, "soak failed: %s\n", result.error.c_str());
        return;
    }
    std::fprintf(out, "\n%u faults in %.1f s\n", result.faults, result.seconds);
    uint32_t longest = 0;
    uint64_t frames = 0, reconnects = 0;
    for (const auto& c : result.channels) {
        std::fprintf(out,
                     "[ch %2u] %8llu frames %5u reconnects %4llu silences  longest gap %6.1f s  streamed again after "
                     "%u of %u faults%s\n",
                     c.index, static_cast<unsigned long long>(c.frames), c.reconnects,
                     static_cast<unsigned long long>(c.silences), c.longestGapMs / 1000.0, c.recovered, result.faults,
                     c.streamsAtEnd ? "" : "  NOT STREAMING AT THE END");
        if (c.decodeChecked)
            std::fprintf(out, "        %s: %s\n", c.path.c_str(),
                         c.decodeErrors.empty() ? "decodes without a complaint"
                                                : ("FFmpeg complains:\n" + c.decodeErrors).c_str());
        longest = std::max(longest, c.longestGapMs);
        frames += c.frames;
        reconnects += c.reconnects;
    }
    std::fprintf(out, "all channels: %llu frames, %llu reconnects, longest gap %.1f s\n",
                 static_cast<unsigned long long>(frames), static_cast<unsigned long long>(reconnects),
                 longest / 1000.0);
    for (const auto& sample : result.samples)
        std::fprintf(out, "  %-12s %s\n", sample.label.c_str(), FormatStats(sample.stats).c_str());
    if (result.markFault != 0 && result.faults >= result.markFault)
        std::fprintf(out, "RSS growth from fault %u to fault %u: %+.1f kB\n", result.markFault, result.faults,
                     result.rssGrowth / 1024.0);
    std::fprintf(
        out, "heap in use after stop: %+.1f kB against the start\n",
        (static_cast<int64_t>(result.afterStop.heapInUseBytes) - static_cast<int64_t>(result.baseline.heapInUseBytes)) /
            1024.0);
    std::string levels;
    for (const auto& [level, lines] : result.lines)
        levels += (levels.empty() ? "" : ", ") + std::to_string(lines.count) + " at level " + std::to_string(level);
    std::fprintf(out, "driver diagnostics: %s\n", levels.empty() ? "none" : levels.c_str());
    for (const auto& [level, lines] : result.lines) {
        std::fprintf(out, "  level %d, first: %s\n", level, lines.first.c_str());
        std::fprintf(out, "  level %d, last:  %s\n", level, lines.last.c_str());
    }
    for (const auto& line : result.faultFailures) std::fprintf(out, "camera: %s\n", line.c_str());
    std::fprintf(out, "threads and descriptors after stop: %s (baseline %u threads, %u descriptors)\n",
                 result.backAtBaseline ? "back at the baseline" : "ABOVE THE BASELINE", result.baseline.threads,
                 result.baseline.descriptors);
    std::fprintf(out, "every channel streams again after the last fault: %s\n", result.allRecovered ? "yes" : "NO");
    std::fprintf(out, "soak %s\n", result.GoalsMet() ? "passed" : "FAILED");
}

}  // namespace dravnel::cli
