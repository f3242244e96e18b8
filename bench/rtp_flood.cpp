// rtp_flood [SECONDS]: an H.264 channel streams over UDP from the simulated
// camera on loopback while this process floods the channel's RTP port, from
// the camera's own address, at full loopback speed for SECONDS (default 60)
// with packets of a stream the channel does not know: H.264 FU-A starts that
// never end, on a foreign SSRC. Prints what was sent, the resident memory
// before, at its peak and after (against the receiver's bounds), the heap in
// use beside it, and when the camera's frames came again once the flood ended.
//
// The suite floods for 2 s; this is the long run, kept out of the suite
// because its figures are the point rather than a pass or a fail.
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "channel/CH264ChannelRTSP.h"
#include "platform/ProcessStats.h"
#include "platform/Socket.h"
#include "rtp/CRTPMediaParser.h"
#include "rtp/CRTPReceiver.h"
#include "sim/device/SimCamera.h"
#include "tests/support/FakeDriver.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/FrameAllocator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Ports of this process's own, away from the channels' default range.
uint16_t PortBase() { return static_cast<uint16_t>(24000 + (getpid() % 1000) * 8); }

class FloodChannel : public dravnel::CH264ChannelRTSP {
public:
    FloodChannel(dravnel::test::FakeDriver& driver, dravnel::host::ChannelSink* sink)
        : CH264ChannelRTSP(0, &driver, sink) {
        firstPort_ = PortBase();
        portLimit_ = static_cast<uint16_t>(PortBase() + 200);
    }
    ~FloodChannel() override { Stop(); }
};

double Mb(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }
uint64_t Rss() { return dravnel::platform::CurrentProcessStats().residentBytes; }
uint64_t Heap() { return dravnel::platform::CurrentProcessStats().heapInUseBytes; }

bool WaitForFrames(const dravnel::host::ChannelSink& sink, size_t count, std::chrono::seconds limit) {
    return sink.WaitForFrames(count, std::chrono::duration_cast<std::chrono::milliseconds>(limit));
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0 || seconds > 3600) {
        std::fprintf(stderr, "rtp_flood: SECONDS must be 1 to 3600\n");
        return 2;
    }
    dravnel::sim::SimCameraOptions options;  // user "admin", password "admin"
    options.webAuth = dravnel::sim::WebAuth::Digest;
    options.rtspAuth = dravnel::sim::RtspServer::Auth::Digest;
    dravnel::sim::SimCamera camera(options);
    if (!camera.Start()) {
        std::fprintf(stderr, "rtp_flood: the simulated camera did not start: %s\n", camera.LastError().c_str());
        return 1;
    }
    dravnel::test::FakeDriver driver;
    dravnel::host::FrameAllocator allocator;
    dravnel::host::ChannelSink sink(false);
    driver.device.Port = camera.WebPort();
    driver.device.UserName = "admin";
    driver.device.Password = "admin";
    driver.device.HttpTimeout = 2000;
    driver.device.StreamTimeout = 3000;
    driver.parameters = {{1, "0"}, {2, "0"}, {4, "1"}};
    driver.hostContext = &allocator;
    auto channel = std::make_unique<FloodChannel>(driver, &sink);
    if (!channel->Start(dravnel::ChannelParams{0x7000 | 10, 50, 352, 288}) || !WaitForFrames(sink, 10, 30s)) {
        std::fprintf(stderr, "rtp_flood: the channel did not stream (%zu frames)\n", sink.FrameCount());
        return 1;
    }
    const uint16_t port = channel->RtpPort();
    // Settled: a few seconds of streaming before the baseline.
    WaitForFrames(sink, sink.FrameCount() + 30, 10s);
    const uint64_t before = Rss();
    const uint64_t heapBefore = Heap();
    const size_t framesBefore = sink.FrameCount();

    dravnel::platform::Socket flood;
    if (!flood.Create(dravnel::platform::Socket::Kind::Udp)) return 1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    std::vector<uint8_t> packet(1400, 0x5A);
    const uint8_t head[] = {0x80, 96, 0, 0, 0, 0, 0x10, 0, 0xBA, 0xD0, 0xBA, 0xD0, 0x7C, 0x85};
    std::copy(std::begin(head), std::end(head), packet.begin());
    uint64_t sent = 0, failed = 0, peak = before, heapPeak = heapBefore;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (uint32_t seq = 0; Clock::now() < end; ++seq) {
        packet[2] = static_cast<uint8_t>(seq >> 8);
        packet[3] = static_cast<uint8_t>(seq);
        packet[13] = seq % 64 == 0 ? 0x85 : 0x05;  // a start now and then, never an end
        if (flood.SendTo(to, packet)) {
            ++sent;
        } else {
            ++failed;
        }
        if (seq % 4096 == 0) {
            peak = std::max(peak, Rss());
            heapPeak = std::max(heapPeak, Heap());
        }
    }
    const double floodSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    peak = std::max(peak, Rss());
    const size_t framesDuring = sink.FrameCount() - framesBefore;

    const auto resumeStart = Clock::now();
    const size_t framesAtEnd = sink.FrameCount();
    const bool resumed = WaitForFrames(sink, framesAtEnd + 10, 60s);
    const double resumeSeconds = std::chrono::duration<double>(Clock::now() - resumeStart).count();
    WaitForFrames(sink, sink.FrameCount() + 30, 10s);
    const uint64_t after = Rss();
    const uint64_t heapAfter = Heap();

    const uint64_t bound = dravnel::CRTPReceiver::kDefaultQueueLimit + dravnel::CRTPMediaParser::kMaxFrameBytes;
    std::printf(
        "flood            %.1f s into port %u: %llu packets of %zu bytes sent (%.0f/s, %.0f MB), %llu refused\n",
        floodSeconds, port, static_cast<unsigned long long>(sent), packet.size(), sent / floodSeconds,
        Mb(sent * packet.size()), static_cast<unsigned long long>(failed));
    std::printf("RSS              before %.1f MB, peak %.1f MB (+%.1f MB), after %.1f MB (+%.1f MB)\n", Mb(before),
                Mb(peak), Mb(peak - before), Mb(after), Mb(after > before ? after - before : 0));
    // Heap in use against RSS after the flood: what the allocator keeps of
    // the freed queue is resident but no longer the driver's.
    std::printf("heap in use      before %.1f MB, peak %.1f MB, after %.1f MB (%+.1f MB)\n", Mb(heapBefore),
                Mb(heapPeak), Mb(heapAfter),
                (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / (1 << 20));
    std::printf(
        "receiver bound   %.1f MB (packet queue %.0f MB + frame assembly %.0f MB; the socket buffer, "
        "%.0f MB asked, is the kernel's): peak growth %s it\n",
        Mb(bound), Mb(dravnel::CRTPReceiver::kDefaultQueueLimit), Mb(dravnel::CRTPMediaParser::kMaxFrameBytes),
        Mb(dravnel::CRTPReceiver::kSocketBuffer), peak - before <= bound ? "within" : "ABOVE");
    std::printf("frames           %zu during the flood; after it: %s (10 frames in %.1f s)\n", framesDuring,
                resumed ? "resumed" : "NOT RESUMED within 60 s", resumeSeconds);
    std::printf("driver lines     %zu \"Frame buffer overflow\", %zu in all\n",
                driver.CountContaining("Frame buffer overflow detected"), driver.Lines().size());
    channel.reset();
    camera.Stop();
    return resumed && peak - before <= bound ? 0 : 1;
}
