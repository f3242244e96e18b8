// A device's identification pages are network bytes: "/config.txt", the
// video page and the probe pages drive the whole identification. The input is
// cut at NUL bytes into those pages, in the order below (an empty or missing
// piece is a 404). Whatever they hold, the query must end, and what it found
// must be writable, with no size twice and none with a zero side.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "properties/CVistaCameraProperties.h"
#include "tools/host/CapabilityRecorder.h"

namespace {

const char* const kPaths[] = {
    "/config.txt",
    "/video/video.php?app=get&ch=1&strm=1",
    "/video/ae_awb.php?app=get",
    "/event/alarm_in.php?app=get",
    "/event/alarm_out.php?app=get",
    "/device/ptz.php?app=get",
    "/admin/alarm.html?app=get",
    "/admin/event.html?app=get",
};

class FuzzedCamera : public dravnel::CVistaCameraProperties {
public:
    explicit FuzzedCamera(std::map<std::string, std::string> pages)
        : CVistaCameraProperties(0, dravnel::DEVICE_INFO("127.0.0.1", 1, "", "")), pages_(std::move(pages)) {}

protected:
    bool RequestGet(const std::string& path, std::string& text) override {
        const auto it = pages_.find(path);
        status_ = it == pages_.end() || it->second.empty() ? 404 : 200;
        if (status_ != 200) return false;
        text = it->second;
        return true;
    }
    uint32_t LastStatus() const override { return status_; }

private:
    std::map<std::string, std::string> pages_;
    uint32_t status_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> pages;
    for (const char* path : kPaths) {
        const size_t end = input.find('\0');
        pages[path] = std::string(input.substr(0, end));
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    FuzzedCamera camera(std::move(pages));
    uint32_t reason = 0;
    if (!camera.Query(&reason)) {
        if (reason != dravnel::kQueryRefused && reason != dravnel::kQueryFailed) __builtin_trap();
        return 0;
    }
    std::set<std::pair<uint16_t, uint16_t>> sizes;
    for (const auto& r : camera.resolutions) {
        if (r.width == 0 || r.height == 0 || !sizes.insert({r.width, r.height}).second) __builtin_trap();
    }
    if (camera.channelCount == 0 || camera.codecs.empty() || camera.modelName.empty()) __builtin_trap();
    dravnel::host::CapabilityRecorder recorder;
    camera.SaveResults(&recorder);
    return 0;
}
