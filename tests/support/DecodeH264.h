// FFmpeg as the oracle for H.264 frames as the host received them: the
// frames are concatenated into one Annex B stream and decoded.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Terminal.h"
#include "tools/host/ChannelSink.h"

namespace dravnel::test {

struct DecodedH264 {
    std::string errors;                      // what FFmpeg reports at level "error"
    std::string probe;                       // ffprobe's "width,height,frames"
    std::vector<std::string> pictureHashes;  // MD5 of each decoded picture
};

inline bool HaveFfmpeg() {
    return platform::RunProgram("ffmpeg", {"-version"}, 10000).exitCode == 0 &&
           platform::RunProgram("ffprobe", {"-version"}, 10000).exitCode == 0;
}

inline DecodedH264 DecodeH264(const std::vector<dravnel::host::FrameRecord>& frames) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quarnel-decode-" + std::to_string(getpid()) + ".h264")).string();
    {
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < frames.size(); ++i) {
            size_t size = frames[i].data.size();
            // Each frame ends with the delimiter that opens the next access
            // unit; the last one opens none.
            if (i + 1 == frames.size() && size >= 5) size -= 5;
            out.write(reinterpret_cast<const char*>(frames[i].data.data()), static_cast<std::streamsize>(size));
        }
    }
    auto run = [](const std::string& program, const std::vector<std::string>& arguments) {
        return platform::RunProgram(program, arguments, 60000).output;
    };
    const std::vector<std::string> input{"-nostdin", "-v", "error", "-f", "h264", "-i", path, "-f"};
    std::vector<std::string> toNull = input, toMd5 = input;
    toNull.insert(toNull.end(), {"null", "-"});
    toMd5.insert(toMd5.end(), {"framemd5", "-"});
    DecodedH264 d;
    d.errors = run("ffmpeg", toNull);
    d.probe = run("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              "stream=width,height,nb_read_frames", "-of", "csv=p=0", path});
    while (!d.probe.empty() && (d.probe.back() == '\n' || d.probe.back() == '\r')) d.probe.pop_back();
    // framemd5 lines: stream, dts, pts, duration, size, hash
    const std::string md5 = run("ffmpeg", toMd5);
    for (size_t at = 0; at < md5.size();) {
        const size_t end = std::min(md5.find('\n', at), md5.size());
        const std::string line = md5.substr(at, end - at);
        if (!line.empty() && line[0] != '#') d.pictureHashes.push_back(line.substr(line.rfind(' ') + 1));
        at = end + 1;
    }
    std::remove(path.c_str());
    return d;
}

}  // namespace dravnel::test
