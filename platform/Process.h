// Facts about the running process. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace dravnel::platform {

unsigned ProcessorCount();
uint32_t CurrentThreadId();

// Directory of the running executable with its trailing separator; empty when
// the path cannot be read or is longer than maxLength characters.
std::string ExecutableDirectory(size_t maxLength = 511);
// True when path names a regular file (links followed).
bool FileExists(const std::string& path);
// The directory part of a path, with its trailing '/'; empty without one.
std::string DirectoryOf(const std::string& path);

// Product version of the host's core module (major, minor, build, revision),
// from the function the host process exports; 5.12.0.0 when it has none.
std::array<uint16_t, 4> HostProductVersion();

// A 32-bit value from the system's random source (for SSRCs and nonces).
uint32_t RandomU32();

// Raises the process's soft limit of open descriptors to its hard limit;
// returns the soft limit in force afterwards (0 when it cannot be read).
uint64_t RaiseDescriptorLimit();
// Whether a failure's errno says that no descriptor was left (for the process
// or for the system).
bool IsDescriptorShortage(int error);

}  // namespace dravnel::platform
