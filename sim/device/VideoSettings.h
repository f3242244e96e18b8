// The video settings of a simulated camera: per channel and stream, the
// name=value entries its video page reports ("ch<N>_strm<M>_<name>"), the
// answers of "app=get" and "app=set", and the RTSP media each stream maps to.
//
// Two device profiles:
//   Standard  sizes are upper-case names ("4CIF", "720P"); "app=get&ch=N"
//             reports every stream of the channel (a "strm" parameter is not
//             looked at); stream 1 H.264/MPEG-4 on "/N/stream1", stream 2
//             JPEG on "/N/stream2".
//   ModelB    sizes are "WIDTHxHEIGHT"; "strm=M" selects one stream for get
//             and set; stream 1 H.264 on "/N/stream0", stream 2 MJPEG on
//             "/N/stream1" with an enable switch "en"; each stream reports per
//             size of its list whether it can run it ("ch1_strm2_vga=1"):
//             stream 2 only at sizes not larger than stream 1's.
//
// A set request is checked as a whole against the device's lists and limits
// and applied all at once, or refused with nothing changed. Reply layout:
//   res=200&total_ch=1&total_strm=2&ch1_strm1_codec=H264MP&ch1_strm1_res=4CIF&...
//
// Thread-safety: none; VideoDevice serialises access.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/device/SizeTable.h"
#include "sim/rtsp/RtspStreamConfig.h"

namespace dravnel::sim {

enum class DeviceProfile { Standard, ModelB };

using QueryParams = std::multimap<std::string, std::string>;

struct VideoSetResult {
    bool accepted = false;
    std::string reason;                                  // why the set was refused
    std::vector<std::pair<unsigned, unsigned>> changed;  // (channel, stream) whose values changed
};

class VideoSettings {
public:
    static constexpr unsigned kStreamsPerChannel = 2;
    static constexpr unsigned kMaxChannels = 128;

    // Default state of a camera of this profile; channels 1..kMaxChannels.
    VideoSettings(DeviceProfile profile, unsigned channels, bool ntsc);

    unsigned Channels() const { return channels_; }
    bool HasStream(unsigned channel, unsigned stream) const;

    // The reported value of "ch<channel>_strm<stream>_<name>"; nullopt when
    // the device does not report it.
    std::optional<std::string> Value(unsigned channel, unsigned stream, std::string_view name) const;
    // Test setup, without checks; a name not yet reported is added at the end.
    // False when the stream does not exist.
    bool SetValue(unsigned channel, unsigned stream, const std::string& name, const std::string& value);
    // The device stops reporting the value (and refuses to set it).
    bool RemoveValue(unsigned channel, unsigned stream, const std::string& name);

    // The body answering "app=get" with these query parameters.
    std::string AnswerGet(const QueryParams& params) const;
    // Checks and applies the values of an "app=set" request.
    VideoSetResult ApplySet(const QueryParams& params);

    // The RTSP path a stream is served on.
    std::string RtspPath(unsigned channel, unsigned stream) const;
    // What that path streams as the values stand (Validate separately: a
    // value set directly may not make a streamable configuration).
    RtspStreamConfig RtspConfig(unsigned channel, unsigned stream) const;

private:
    struct Stream {
        std::vector<std::pair<std::string, std::string>> values;  // in reply order
        std::set<std::string> hidden;                             // size entries removed
    };
    using Channel = std::vector<Stream>;  // streams 1..kStreamsPerChannel at 0..

    static std::optional<std::string> Lookup(const Stream& stream, std::string_view name);
    static void Store(Stream& stream, const std::string& name, const std::string& value);
    std::optional<std::string> ValueIn(const Channel& channel, unsigned stream, std::string_view name) const;
    // Model B: "<size name>" -> "1"/"0" for each size of the stream's list.
    std::vector<std::pair<std::string, std::string>> SizeEntries(const Channel& channel, unsigned stream) const;
    // The size a "res" value names in this profile.
    std::optional<FrameSize> SizeOf(std::string_view res) const;
    bool IsReadOnly(std::string_view name) const;
    std::string CheckValue(const Channel& channel, unsigned stream, const std::string& name,
                           const std::string& value) const;
    RtspStreamConfig ConfigOf(const Channel& channel, unsigned stream) const;
    void AppendEntries(std::string& body, unsigned channel, unsigned stream) const;

    DeviceProfile profile_;
    unsigned channels_;
    bool ntsc_;
    std::vector<Channel> state_;  // channels 1..channels_ at 0..
};

}  // namespace dravnel::sim
