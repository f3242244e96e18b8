// The driver library loaded the way a host loads it: dlopen (LoadLibrary on
// Windows) and the exports.
//
// Thread-safety: load once, then the function pointers may be used anywhere.
#pragma once

#include <string>

#include "platform/SharedLibrary.h"
#include "quarnel/Exports.h"

namespace dravnel::cli {

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // path empty: libquarnel.so beside the running executable (a build tree),
    // else the SONAME in the installed library directory; on Windows
    // Quarnel.dll beside the executable.
    bool Load(const std::string& path, std::string& error);
    // The loaded file with links resolved (it carries the full version).
    const std::string& path() const { return library_.Path(); }

    decltype(&CreateIPCapture) createIPCapture = nullptr;
    decltype(&DeleteIPCapture) deleteIPCapture = nullptr;
    decltype(&InitCapabilityQuery) initCapabilityQuery = nullptr;
    decltype(&StartCapabilityQuery) startCapabilityQuery = nullptr;
    decltype(&TerminateCapabilityQuery) terminateCapabilityQuery = nullptr;
    decltype(&UninitCapabilityQuery) uninitCapabilityQuery = nullptr;

private:
    platform::SharedLibrary library_;
};

}  // namespace dravnel::cli
