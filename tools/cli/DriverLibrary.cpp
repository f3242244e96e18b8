#include "tools/cli/DriverLibrary.h"

#include "platform/Process.h"
#include "quarnel/Version.h"

namespace dravnel::cli {

DriverLibrary::~DriverLibrary() = default;

// Beside the executable in a build tree (and always on Windows); in the
// library directory of an installed tree, by the SONAME of the ABI these
// headers describe.
std::string DefaultLibraryPath() {
    std::string directory = platform::ExecutableDirectory(4095);
    if (directory.empty()) directory = "./";
    const std::string beside = directory + platform::kDriverLibraryFile;
#ifdef _WIN32
    return beside;
#else
    if (platform::FileExists(beside)) return beside;
    return directory + QUARNEL_LIBDIR_FROM_BINDIR + "/" + QUARNEL_LIBRARY_SONAME;
#endif
}

bool DriverLibrary::Load(const std::string& path, std::string& error) {
    const std::string file = path.empty() ? DefaultLibraryPath() : path;
    std::string why;
    if (!library_.Open(file, why)) {
        error = "cannot load " + file + ": " + why;
        return false;
    }
    const auto find = [&](const char* name, auto& fn) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(library_.Symbol(name));
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

}  // namespace dravnel::cli
