#include "platform/ProcessStats.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace dravnel::platform {

namespace {

uint32_t CountDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return 0;
    uint32_t count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count > 0 ? count - 1 : 0;  // the directory's own descriptor
}

}  // namespace

ProcessStats CurrentProcessStats() {
    ProcessStats stats;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned long long value = 0;
            if (std::sscanf(line, "Threads: %llu", &value) == 1) stats.threads = static_cast<uint32_t>(value);
            if (std::sscanf(line, "VmRSS: %llu kB", &value) == 1) stats.residentBytes = value * 1024;
        }
        std::fclose(status);
    }
    // Counted after the status file is closed, so that it is not among them.
    stats.descriptors = CountDescriptors();
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 heap = mallinfo2();
    stats.heapInUseBytes = heap.uordblks + heap.hblkhd;
#endif
    return stats;
}

}  // namespace dravnel::platform
