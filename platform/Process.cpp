#include "platform/Process.h"

#include <dlfcn.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "quarnel/Exports.h"

namespace dravnel::platform {

unsigned ProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
}

uint32_t CurrentThreadId() {
    // Every CLock operation asks, on the paths of every packet and frame: the
    // system call is made once per thread. (A forked child runs only until
    // exec and takes no locks.)
    thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

std::string DirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

std::string ExecutableDirectory(size_t maxLength) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer || static_cast<size_t>(n) > maxLength) return {};
    return DirectoryOf(std::string(buffer, static_cast<size_t>(n)));
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::array<uint16_t, 4> HostProductVersion() {
    using VersionFn = int (*)(uint16_t*);
    std::array<uint16_t, 4> version{5, 12, 0, 0};
    auto fn = reinterpret_cast<VersionFn>(dlsym(RTLD_DEFAULT, QUARNEL_HOST_VERSION_SYMBOL));
    if (fn) {
        uint16_t got[4] = {0, 0, 0, 0};
        if (fn(got)) version = {got[0], got[1], got[2], got[3]};
    }
    return version;
}

uint32_t RandomU32() {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
    std::mt19937 fallback(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    return fallback();
}

uint64_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return limit.rlim_cur;
}

bool IsDescriptorShortage(int error) { return error == EMFILE || error == ENFILE; }

}  // namespace dravnel::platform
