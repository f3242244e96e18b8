// Reply heads as libcurl hands them over, line by line: the first byte picks
// whether redirects are followed and whether a body byte arrives after the
// lines; the rest is cut into lines after each '\n'.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/HttpHead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    dravnel::platform::HttpHead head;
    head.Reset((data[0] & 1) != 0);
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const size_t length = end == std::string_view::npos ? rest.size() : end + 1;
        if (!head.Take(rest.substr(0, length))) break;
        rest.remove_prefix(length);
    }
    if (data[0] & 2) head.OnBody();
    if (head.Status() > 999) __builtin_trap();
    for (const char* name : {"WWW-Authenticate", "Content-Type", ""}) {
        for (const auto& value : head.Values(name)) {
            if (!value.empty() && (value.front() == ' ' || value.back() == '\t')) __builtin_trap();
        }
    }
    return 0;
}
