#include "sim/device/PtzPage.h"

#include <mutex>
#include <string>

namespace quarnel::sim {

struct PtzPage::State {
    std::mutex mutex;
    unsigned channels = 1;
    bool enabled = false;
};

PtzPage::PtzPage(WebServer& server, unsigned channels, bool enabled) : state_(std::make_shared<State>()) {
    state_->channels = channels;
    state_->enabled = enabled;
    server.SetPage("/device/ptz.php", [state = state_](const WebPageRequest& request) {
        WebPageReply reply;
        if (request.Param("app") != "get") {
            reply.body = "res=400";
            return reply;
        }
        std::lock_guard<std::mutex> lock(state->mutex);
        const unsigned count = state->enabled ? state->channels : 0;
        reply.body = "res=200&ptz_count=" + std::to_string(count);
        for (unsigned channel = 1; channel <= count; ++channel)
            reply.body += "&ptz" + std::to_string(channel) + "_enable=1";
        return reply;
    });
}

void PtzPage::SetEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->enabled = enabled;
}

}  // namespace quarnel::sim
