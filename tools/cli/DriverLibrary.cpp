#include "tools/cli/DriverLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "quarnel/Version.h"

namespace quarnel::cli {

namespace {
std::string ExecutableDirectory() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}
}  // namespace

DriverLibrary::~DriverLibrary() {
    if (handle_) dlclose(handle_);
}

// Beside the executable in a build tree; in the library directory of an
// installed tree, by the SONAME of the ABI these headers describe.
std::string DefaultLibraryPath() {
    const std::string directory = ExecutableDirectory();
    const std::string beside = directory + "libquarnel.so";
    if (access(beside.c_str(), F_OK) == 0) return beside;
    return directory + QUARNEL_LIBDIR_FROM_BINDIR + "/" + QUARNEL_LIBRARY_SONAME;
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    const std::string file = path.empty() ? DefaultLibraryPath() : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error = "cannot load " + file + ": " + (why ? why : "unknown error");
        return false;
    }
    char resolved[4096];
    path_ = realpath(file.c_str(), resolved) ? resolved : file;
    const auto find = [&](const char* name, auto& fn) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle_, name));
        if (!fn) error += std::string(error.empty() ? "" : ", ") + "missing export " + name;
    };
    find("CreateIPCapture", createIPCapture);
    find("DeleteIPCapture", deleteIPCapture);
    find("InitCapabilityQuery", initCapabilityQuery);
    find("StartCapabilityQuery", startCapabilityQuery);
    find("TerminateCapabilityQuery", terminateCapabilityQuery);
    find("UninitCapabilityQuery", uninitCapabilityQuery);
    return error.empty();
}

}  // namespace quarnel::cli
