// Facts about the process on Windows. The host version is the product version
// in the version resource of the host's core module; a host executable that
// exports the version function (the tools and the tests) may stand in for it.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <objbase.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "platform/Process.h"
#include "quarnel/Exports.h"

namespace dravnel::platform {

namespace {

constexpr wchar_t kHostModule[] = L"ostrail.dll";

std::string Narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

bool VersionOfResource(const wchar_t* module, std::array<uint16_t, 4>& version) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(module, &ignored);
    if (size == 0) return false;
    std::vector<uint8_t> data(size);
    if (!GetFileVersionInfoW(module, 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    version = {HIWORD(info->dwProductVersionMS), LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
               LOWORD(info->dwProductVersionLS)};
    return true;
}

}  // namespace

unsigned ProcessorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1u;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

std::string ExecutableDirectory(size_t maxLength) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return {};
    const std::string path = Narrow(buffer, n);
    if (path.size() > maxLength) return {};
    return DirectoryOf(path);
}

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::array<uint16_t, 4> HostProductVersion() {
    std::array<uint16_t, 4> version{5, 12, 0, 0};
    if (VersionOfResource(kHostModule, version)) return version;
    using VersionFn = int (*)(uint16_t*);
    auto fn = reinterpret_cast<VersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), QUARNEL_HOST_VERSION_SYMBOL)));
    if (fn) {
        uint16_t got[4] = {0, 0, 0, 0};
        if (fn(got)) version = {got[0], got[1], got[2], got[3]};
    }
    return version;
}

// The first 32 bits of a new GUID (version 4: random), as the RTCP SSRC is
// chosen; the C run-time's generator seeded with the time when there is none.
uint32_t RandomU32() {
    GUID guid{};
    if (CoCreateGuid(&guid) == S_OK) return guid.Data1;
    std::mt19937 fallback(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    return fallback();
}

// Windows has no per-process limit of sockets to raise.
uint64_t RaiseDescriptorLimit() { return 0; }

bool IsDescriptorShortage(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

}  // namespace dravnel::platform
