// The operating system's debugger output: text for a developer watching the
// process, never the host's log. On Linux that is the standard error stream.
//
// Thread-safety: may be called from any thread.
#pragma once

#include <string_view>

namespace dravnel::platform {

// Writes one line (a line feed is added).
void WriteDebuggerOutput(std::string_view text);

}  // namespace dravnel::platform
