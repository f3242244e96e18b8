// Loading the driver's module as a host does: dlopen on Linux, LoadLibrary on
// Windows. The driver's ten functions are found by their plain names on both.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>

inline void* OpenDriverModule(const std::string& path) { return LoadLibraryA(path.c_str()); }
inline void* DriverSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
inline void CloseDriverModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
inline std::string DriverModuleError() { return "error " + std::to_string(GetLastError()); }
#else
#include <dlfcn.h>

inline void* OpenDriverModule(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
inline void* DriverSymbol(void* module, const char* name) { return dlsym(module, name); }
inline void CloseDriverModule(void* module) { dlclose(module); }
inline std::string DriverModuleError() {
    const char* why = dlerror();
    return why ? why : "unknown error";
}
#endif
