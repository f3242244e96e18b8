// The subcommands of quarnel, each in a file of its own.
#pragma once

#include <string>
#include <vector>

namespace dravnel::cli {

int RunStreamCommand(const std::vector<std::string>& args);
int RunDemoCommand(const std::vector<std::string>& args);
int RunIOCommand(const std::vector<std::string>& args);
int RunProbeCommand(const std::vector<std::string>& args);
int RunPtzCommand(const std::vector<std::string>& args);
int RunSoakCommand(const std::vector<std::string>& args);

}  // namespace dravnel::cli
