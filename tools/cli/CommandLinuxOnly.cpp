// The commands of the Windows build that run the simulated camera in this
// process: it needs cpp-httplib and GStreamer, which that build has not.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/CommandSim.h"
#include "tools/cli/Commands.h"

namespace dravnel::cli {

namespace {
int LinuxOnly(const char* command) {
    std::fprintf(stderr,
                 "quarnel %s: runs on Linux only (the simulated camera needs cpp-httplib and GStreamer); run it "
                 "there and point this build at it\n",
                 command);
    return 2;
}
}  // namespace

int RunSimCommand(const std::vector<std::string>&) { return LinuxOnly("sim"); }
int RunSoakCommand(const std::vector<std::string>&) { return LinuxOnly("soak"); }
int RunDemoCommand(const std::vector<std::string>&) { return LinuxOnly("demo"); }
int RunPtzCommand(const std::vector<std::string>&) { return LinuxOnly("ptz"); }

}  // namespace dravnel::cli
