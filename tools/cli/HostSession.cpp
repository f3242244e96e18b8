#include "tools/cli/HostSession.h"

#include "tools/host/HostVersion.h"

namespace dravnel::cli {

std::string FormatDebugLine(const host::DebugLine& line) {
    return "[" + std::to_string(line.level) + "] " + (line.nullText ? std::string("(empty)") : line.text);
}

bool ParseHostVersion(const std::string& text, uint16_t out[4]) {
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t count = 0, start = 0;
    while (count < 4) {
        const size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!ParseUnsigned(part, parts[count]) || parts[count] > 65535) return false;
        ++count;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (count < 2) return false;
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint16_t>(parts[i]);
    return true;
}

HostSession::~HostSession() { Close(); }

bool HostSession::Open(FILE* log) {
    if (!log) return Open(std::function<void(const host::DebugLine&)>());
    return Open([log](const host::DebugLine& line) {
        std::fprintf(log, "%s\n", FormatDebugLine(line).c_str());
        std::fflush(log);
    });
}

bool HostSession::Open(std::function<void(const host::DebugLine&)> listener) {
    std::string error;
    if (!library_.Load(options_.library, error)) {
        std::fprintf(stderr, "quarnel: %s\n", error.c_str());
        return false;
    }
    if (!options_.hostVersion.empty()) {
        uint16_t v[4];
        if (!ParseHostVersion(options_.hostVersion, v)) {
            std::fprintf(stderr, "quarnel: --host-version: '%s' is not MAJOR.MINOR[.BUILD.REVISION]\n",
                         options_.hostVersion.c_str());
            return false;
        }
        host::SetHostVersion(v[0], v[1], v[2], v[3]);
    }
    description_.address = options_.address;
    description_.port = options_.port;
    description_.userName = options_.user;
    description_.password = options_.password;
    description_.codec = options_.codec;
    description_.channels = options_.channels;
    description_.inputs = options_.inputs;
    description_.outputs = options_.outputs;
    description_.model = options_.model;
    // A recorder hands every parameter up to the last one; those it has no
    // value for read "(none)".
    if (!options_.parameters.empty()) {
        for (int n = 1; n <= options_.parameters.rbegin()->first; ++n) {
            auto it = options_.parameters.find(n);
            description_.parameters[n] = it == options_.parameters.end() ? "(none)" : it->second;
        }
    }
    if (listener) debug_.SetListener(std::move(listener));
    auto* created = library_.createIPCapture();
    driver_ = static_cast<dravnel::ipcapture::IIPCaptureDriverEx3*>(created);
    if (!driver_) {
        std::fprintf(stderr, "quarnel: the driver could not be created\n");
        return false;
    }
    if (!driver_->Open(&debug_, &allocator_, &description_)) {
        std::fprintf(stderr,
                     "quarnel: the driver refused to open %s:%u (is --param 2=0|1, the video standard, "
                     "given?)\n",
                     options_.address.c_str(), static_cast<unsigned>(options_.port));
        Close();
        return false;
    }
    return true;
}

void HostSession::Close() {
    if (!driver_) return;
    driver_->Close();
    library_.deleteIPCapture(driver_);
    driver_ = nullptr;
}

}  // namespace dravnel::cli
