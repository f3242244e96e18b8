#include "platform/DebugOutput.h"

#include <cstdio>
#include <string>

namespace dravnel::platform {

void WriteDebuggerOutput(std::string_view text) {
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace dravnel::platform
