// One streaming run as a recorder does it: open the device, start channels,
// write their frames to files, show live figures, stop cleanly.
//
// Thread-safety: Run is called by the CLI's main thread; the driver calls the
// sinks and the log from its own threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/Options.h"
#include "tools/cli/StreamSink.h"
#include "tools/host/DebugSink.h"

namespace dravnel::cli {

struct StreamSettings {
    DeviceOptions device;
    std::vector<unsigned> channels;  // host indexes, from 0
    uint32_t width = 640;
    uint32_t height = 480;
    uint32_t fps = 25;
    uint32_t quality = 60;
    std::string out = "out/stream.h264";  // with several channels the index goes into the name
    std::string transport;                // udp, tcp, interleaved, http; empty: the settings file decides
    uint32_t seconds = 0;                 // 0: until Ctrl-C
    bool quiet = false;                   // no live display, no diagnostics on the output
};

struct ChannelResult {
    unsigned index = 0;
    bool started = false;
    std::string path;
    StreamFigures figures;
    uint32_t reconnects = 0;  // times the stream was lost after it had run
    std::string loss;         // the driver's status text: kernel drops, sequence gaps
};

struct StreamResult {
    bool opened = false;
    std::string error;
    double seconds = 0;
    std::vector<ChannelResult> channels;
    std::vector<host::DebugLine> diagnostics;
};

// The file of one channel: `out` itself for a single channel, else with
// "-<index>" before the extension.
std::string ChannelOutputPath(const std::string& out, unsigned index, bool several);
// The file name extension a player takes a codec's frames by: ".h264",
// ".m4v" (2, MPEG-4) or ".mjpeg" (1, MJPEG).
std::string StreamFileExtension(int codec);

StreamResult RunStream(const StreamSettings& settings, FILE* out);

// Why a channel got no video, from the driver's last "gets no video" line
// for it; empty when the driver said nothing.
std::string NoVideoReason(const std::vector<host::DebugLine>& diagnostics, unsigned index);

// "[ch 0] streaming  250 frames  25.0 fps  1024 kbit/s  10 key  0 reconnects  704x576
//  kernel drops 0, sequence gaps 0"
std::string FormatChannelLine(const ChannelResult& channel, const char* state, double fps, double kbps);

}  // namespace dravnel::cli
