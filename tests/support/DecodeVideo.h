// FFmpeg as the oracle for JPEG and MPEG-4 frames as the host received them:
// the frames are concatenated (JPEG images one after another, an MPEG-4
// elementary stream) and decoded.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "tools/host/ChannelSink.h"

namespace dravnel::test {

struct DecodedVideo {
    std::string errors;  // what FFmpeg reports at level "error"
    std::string probe;   // ffprobe's "width,height,frames"
};

// `format`: "mjpeg" or "m4v".
inline DecodedVideo DecodeVideo(const std::vector<std::vector<uint8_t>>& frames, const std::string& format) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quarnel-decode-" + std::to_string(getpid()) + "." + format))
            .string();
    {
        std::ofstream out(path, std::ios::binary);
        for (const auto& f : frames)
            out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
    DecodedVideo d;
    d.errors =
        platform::RunProgram("ffmpeg", {"-nostdin", "-v", "error", "-f", format, "-i", path, "-f", "null", "-"}, 60000)
            .output;
    d.probe = platform::RunProgram("ffprobe",
                                   {"-v", "error", "-f", format, "-count_frames", "-select_streams", "v:0",
                                    "-show_entries", "stream=width,height,nb_read_frames", "-of", "csv=p=0", path},
                                   60000)
                  .output;
    while (!d.probe.empty() && (d.probe.back() == '\n' || d.probe.back() == '\r')) d.probe.pop_back();
    std::remove(path.c_str());
    return d;
}

inline DecodedVideo DecodeVideo(const std::vector<dravnel::host::FrameRecord>& frames, const std::string& format) {
    std::vector<std::vector<uint8_t>> data;
    for (const auto& f : frames) data.push_back(f.data);
    return DecodeVideo(data, format);
}

}  // namespace dravnel::test
