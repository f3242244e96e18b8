// The simulated camera's video page over arbitrary queries: get and set
// requests on both device profiles. A refused set changes nothing; an
// accepted one leaves every changed stream streamable.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/device/VideoSettings.h"

namespace {

// "a=1&b=2" as the web server hands a decoded query over.
dravnel::sim::QueryParams Query(const std::string& text) {
    dravnel::sim::QueryParams params;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(start, end - start);
        const size_t eq = entry.find('=');
        params.emplace(entry.substr(0, eq), eq == std::string::npos ? "" : entry.substr(eq + 1));
        start = end + 1;
    }
    return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dravnel::sim;
    if (size == 0) return 0;
    // First byte: profile and standard; the rest: the query.
    const DeviceProfile profile = data[0] & 1 ? DeviceProfile::ModelB : DeviceProfile::Standard;
    VideoSettings settings(profile, 2, (data[0] & 2) != 0);
    const QueryParams params = Query(std::string(reinterpret_cast<const char*>(data + 1), size - 1));

    const std::string before = settings.AnswerGet(Query("ch=1")) + settings.AnswerGet(Query("ch=2"));
    settings.AnswerGet(params);
    const VideoSetResult result = settings.ApplySet(params);
    const std::string after = settings.AnswerGet(Query("ch=1")) + settings.AnswerGet(Query("ch=2"));
    if (!result.accepted && (after != before || !result.changed.empty() || result.reason.empty())) __builtin_trap();
    if (result.accepted && result.changed.empty() != (after == before)) __builtin_trap();
    for (const auto& [channel, stream] : result.changed) {
        if (!settings.RtspConfig(channel, stream).Validate().empty()) __builtin_trap();
        if (settings.RtspPath(channel, stream).empty()) __builtin_trap();
    }
    return 0;
}
