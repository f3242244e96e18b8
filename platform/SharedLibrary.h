// A shared library loaded at run time, the way a host loads a driver:
// dlopen and dlsym, or LoadLibrary and GetProcAddress on Windows.
//
// Thread-safety: Open and the destructor by the owner; Symbol and Path from
// any thread once open.
#pragma once

#include <string>

namespace dravnel::platform {

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the file with every symbol resolved now; false with the system's
    // reason in `error`.
    bool Open(const std::string& file, std::string& error);
    bool IsOpen() const { return handle_ != nullptr; }
    // The address of an exported function; null when there is none.
    void* Symbol(const char* name) const;
    // The loaded file with links resolved.
    const std::string& Path() const { return path_; }

private:
    void* handle_ = nullptr;
    std::string path_;
};

// The driver library's file name in a build tree and on Windows.
#ifdef _WIN32
inline constexpr const char* kDriverLibraryFile = "Quarnel.dll";
#else
inline constexpr const char* kDriverLibraryFile = "libquarnel.so";
#endif

}  // namespace dravnel::platform
