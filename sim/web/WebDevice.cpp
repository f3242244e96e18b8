#include "sim/web/WebDevice.h"

#include <mutex>
#include <optional>

namespace dravnel::sim {

struct WebDevice::State {
    std::mutex mutex;
    std::string userText = "res=200\r\n";
    std::optional<std::string> configText;
};

namespace {

WebPageReply Text(int status, std::string body) {
    WebPageReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

}  // namespace

WebDevice::WebDevice(WebServer& server) : state_(std::make_shared<State>()) {
    server.SetPage("/system/user.php", [state = state_](const WebPageRequest& request) {
        if (request.Param("app") != "get") return Text(400, "400 Bad Request\r\n");
        std::lock_guard<std::mutex> lock(state->mutex);
        return Text(200, state->userText);
    });
    server.SetPage("/config.txt", [state = state_](const WebPageRequest&) {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->configText ? Text(200, *state->configText) : Text(404, "404 Not Found\r\n");
    });
}

void WebDevice::SetUserText(std::string text) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->userText = std::move(text);
}

void WebDevice::SetConfigText(std::string text) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->configText = std::move(text);
}

}  // namespace dravnel::sim
