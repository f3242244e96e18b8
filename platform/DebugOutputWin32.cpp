#include <windows.h>

#include <string>

#include "platform/DebugOutput.h"

namespace dravnel::platform {

void WriteDebuggerOutput(std::string_view text) {
    std::string line(text);
    line += '\n';
    OutputDebugStringA(line.c_str());
}

}  // namespace dravnel::platform
