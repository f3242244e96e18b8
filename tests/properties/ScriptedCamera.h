// Camera properties that read their pages from a script instead of a device:
// each path answers with a status and a body (status 0: the device is silent),
// and every request is logged in order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "properties/CVistaCameraProperties.h"

namespace dravnel::test {

struct ScriptedPage {
    uint32_t status = 200;
    std::string body;
};

class ScriptedCamera : public dravnel::CVistaCameraProperties {
public:
    explicit ScriptedCamera(std::map<std::string, ScriptedPage> pages, uint32_t videoStandard = 0)
        : CVistaCameraProperties(videoStandard, dravnel::DEVICE_INFO("127.0.0.1", 1, "admin", "admin")),
          pages_(std::move(pages)) {}

    std::vector<std::string> requests;

protected:
    // As the sender does: a page that is not scripted is a 404; only a
    // non-empty 200 body is read.
    bool RequestGet(const std::string& path, std::string& text) override {
        if (Stopped() || path.empty()) return false;
        requests.push_back(path);
        const auto it = pages_.find(path);
        const ScriptedPage page = it != pages_.end() ? it->second : ScriptedPage{404, "404 Not Found"};
        status_ = page.status;
        if (page.status != 200 || page.body.empty()) return false;
        text = page.body;
        return true;
    }
    uint32_t LastStatus() const override { return status_; }

private:
    std::map<std::string, ScriptedPage> pages_;
    uint32_t status_ = 0;
};

}  // namespace dravnel::test
