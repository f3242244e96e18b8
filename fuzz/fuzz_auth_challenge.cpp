// WWW-Authenticate (and Authorization) values as a server or client may send
// them: the challenge parser and the preferred-scheme choice over them. Line
// feeds split the input into several header values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "web/AuthChallenge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> values;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        values.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& value : values) {
        for (const Web::AuthChallenge& challenge : Web::ParseAuthChallenges(value)) {
            if (challenge.scheme.empty()) __builtin_trap();
            challenge.Param("realm");
        }
    }
    const uint32_t scheme = Web::PreferredAuthScheme(values);
    if (scheme & (scheme - 1)) __builtin_trap();  // one scheme at most
    return 0;
}
