// quarnel sim: the simulated camera on 127.0.0.1 until interrupted.
#pragma once

#include <string>
#include <vector>

namespace dravnel::cli {

int RunSimCommand(const std::vector<std::string>& args);

}  // namespace dravnel::cli
