// The readers of a device's video page over arbitrary reply text: the
// configuration summary, the change list, the frame-rate and bit-rate values
// and the resolution lookup.
#include <cstddef>
#include <cstdint>
#include <string>

#include "channel/CResolutionHelper.h"
#include "channel/CStreamChanges.h"
#include "channel/StreamValues.h"
#include "web/HUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const std::string prefix = "ch1_strm1_";

    const std::string summary = dravnel::DescribeConfiguration(reply);
    // Entries of the reply, each behind a '&' that stands for its terminator.
    if (summary.size() > reply.size() + 1) __builtin_trap();

    dravnel::CStreamChanges changes(summary);
    for (const char* key : {"codec", "res", "bitrate", "ratecontrol", "fps", "gov"}) {
        const std::string name = prefix + key;
        const std::string before = dravnel::HUtils::GetValue(changes.Text(), name, "=", "&\r\n");
        const auto result = changes.Change(name, "42");
        const std::string after = dravnel::HUtils::GetValue(changes.Text(), name, "=", "&\r\n");
        if (before.empty() != (result == dravnel::CStreamChanges::Result::NotReported)) __builtin_trap();
        if (!before.empty() && after != "42") __builtin_trap();
    }

    const uint32_t max = dravnel::DeviceMaxFrameRate(reply, prefix);
    const uint32_t channelRate = dravnel::ChannelFrameRate(size > 0 ? data[0] * 97u : 0);
    dravnel::WantedFrameRate(channelRate, max);
    // Whatever the device lists, it is never asked for 0 frames per second.
    if (dravnel::DeviceFrameRate(reply, prefix, channelRate, size % 2 == 0) == 0) __builtin_trap();
    const std::string maxbr = dravnel::HUtils::GetValue(reply, prefix + "maxbr", "=", "&\r\n");
    if (dravnel::BitrateForQuality(maxbr, static_cast<uint32_t>(size * 7), static_cast<uint32_t>(size % 120)).empty())
        __builtin_trap();

    const dravnel::CResolutionHelper helper(size % 2 == 0, size % 3 == 0);
    for (const std::string& entry : dravnel::HUtils::GetListValue(reply, prefix + "res_list", "=", "&\r\n", "|")) {
        uint32_t width = 0;
        uint32_t height = 0;
        if (!helper.GetSize(entry, width, height) && (width != 0 || height != 0)) __builtin_trap();
    }
    return 0;
}
