#include "platform/Clock.h"

#include <time.h>

namespace dravnel::platform {

uint64_t SystemTimeAsFileTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return kFileTimeUnixEpoch + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

bool FileTimeToSystemTime(uint64_t fileTime, dravnel::SYSTEMTIME& out) {
    if (fileTime < kFileTimeUnixEpoch || fileTime >= 0x8000000000000000ull) return false;
    const uint64_t since = fileTime - kFileTimeUnixEpoch;
    const time_t seconds = static_cast<time_t>(since / 10000000ull);
    tm parts{};
    if (!gmtime_r(&seconds, &parts)) return false;
    if (parts.tm_year + 1900 > 30827) return false;
    out.wYear = static_cast<uint16_t>(parts.tm_year + 1900);
    out.wMonth = static_cast<uint16_t>(parts.tm_mon + 1);
    out.wDayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    out.wDay = static_cast<uint16_t>(parts.tm_mday);
    out.wHour = static_cast<uint16_t>(parts.tm_hour);
    out.wMinute = static_cast<uint16_t>(parts.tm_min);
    out.wSecond = static_cast<uint16_t>(parts.tm_sec);
    out.wMilliseconds = static_cast<uint16_t>((since % 10000000ull) / kFileTimePerMs);
    return true;
}

bool SystemTimeToFileTime(const dravnel::SYSTEMTIME& in, uint64_t& fileTime) {
    if (in.wYear < 1970 || in.wMonth < 1 || in.wMonth > 12 || in.wDay < 1 || in.wDay > 31 || in.wHour > 23 ||
        in.wMinute > 59 || in.wSecond > 59 || in.wMilliseconds > 999)
        return false;
    tm parts{};
    parts.tm_year = in.wYear - 1900;
    parts.tm_mon = in.wMonth - 1;
    parts.tm_mday = in.wDay;
    parts.tm_hour = in.wHour;
    parts.tm_min = in.wMinute;
    parts.tm_sec = in.wSecond;
    const time_t seconds = timegm(&parts);
    if (seconds < 0) return false;
    fileTime = kFileTimeUnixEpoch + static_cast<uint64_t>(seconds) * 10000000ull +
               static_cast<uint64_t>(in.wMilliseconds) * kFileTimePerMs;
    return true;
}

dravnel::SYSTEMTIME CurrentSystemTime() {
    dravnel::SYSTEMTIME st;
    FileTimeToSystemTime(SystemTimeAsFileTime(), st);
    return st;
}

uint32_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace dravnel::platform
