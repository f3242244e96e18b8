// The clock on Windows: FILETIME and SYSTEMTIME natively; the monotonic
// milliseconds are the multimedia timer's (timeGetTime), which wraps at 2^32
// as the callers expect.
#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include "platform/Clock.h"

namespace dravnel::platform {

namespace {
uint64_t Join(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
}  // namespace

uint64_t SystemTimeAsFileTime() {
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return Join(ft);
}

// The same range as on Linux: from 1970 on, so that both builds accept the
// same times from devices and hosts.
bool FileTimeToSystemTime(uint64_t fileTime, dravnel::SYSTEMTIME& out) {
    if (fileTime < kFileTimeUnixEpoch || fileTime >= 0x8000000000000000ull) return false;
    FILETIME ft{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    ::SYSTEMTIME st{};
    if (!::FileTimeToSystemTime(&ft, &st)) return false;
    out.wYear = st.wYear;
    out.wMonth = st.wMonth;
    out.wDayOfWeek = st.wDayOfWeek;
    out.wDay = st.wDay;
    out.wHour = st.wHour;
    out.wMinute = st.wMinute;
    out.wSecond = st.wSecond;
    out.wMilliseconds = st.wMilliseconds;
    return true;
}

bool SystemTimeToFileTime(const dravnel::SYSTEMTIME& in, uint64_t& fileTime) {
    if (in.wYear < 1970 || in.wMonth < 1 || in.wMonth > 12 || in.wDay < 1 || in.wDay > 31 || in.wHour > 23 ||
        in.wMinute > 59 || in.wSecond > 59 || in.wMilliseconds > 999)
        return false;
    ::SYSTEMTIME st{};
    st.wYear = in.wYear;
    st.wMonth = in.wMonth;
    st.wDay = in.wDay;
    st.wHour = in.wHour;
    st.wMinute = in.wMinute;
    st.wSecond = in.wSecond;
    st.wMilliseconds = in.wMilliseconds;
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&st, &ft)) return false;
    fileTime = Join(ft);
    return true;
}

dravnel::SYSTEMTIME CurrentSystemTime() {
    dravnel::SYSTEMTIME st;
    FileTimeToSystemTime(SystemTimeAsFileTime(), st);
    return st;
}

uint32_t MonotonicMs() { return timeGetTime(); }

}  // namespace dravnel::platform
