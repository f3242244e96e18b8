// The simulated camera's CGI pages, as a device model on a WebServer. Each
// page answers from the model's state, which tests and the simulator set.
//
//   "/system/user.php?app=get"  the user text (any other app: status 400)
//   "/config.txt"               the configuration text (404 until set)
//
// Thread-safety: the setters may be called from any thread while the pages
// serve requests. The pages share the model's state, so they stay valid on
// the server after the WebDevice is gone.
#pragma once

#include <memory>
#include <string>

#include "sim/web/WebServer.h"

namespace dravnel::sim {

class WebDevice {
public:
    explicit WebDevice(WebServer& server);

    void SetUserText(std::string text);
    void SetConfigText(std::string text);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace dravnel::sim
