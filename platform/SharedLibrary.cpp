#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

namespace dravnel::platform {

SharedLibrary::~SharedLibrary() {
    if (handle_) dlclose(handle_);
}

bool SharedLibrary::Open(const std::string& file, std::string& error) {
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
        return false;
    }
    char resolved[PATH_MAX];
    path_ = realpath(file.c_str(), resolved) ? resolved : file;
    return true;
}

void* SharedLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

}  // namespace dravnel::platform
