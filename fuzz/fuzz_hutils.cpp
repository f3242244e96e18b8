// GetValue, GetListValue and ParseDecimal over arbitrary reply text. The first
// byte picks the key's length from the rest, so keys are drawn from the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "web/HUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t keyLength = data[0] % 16;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string key = rest.substr(0, keyLength);
    const std::string text = rest.substr(std::min(keyLength, rest.size()));
    using namespace dravnel::HUtils;
    const std::string value = GetValue(text, key, "=", "&\r\n");
    if (!value.empty() && text.find(value) == std::string::npos) __builtin_trap();
    GetValue(text, key, ": ", "\r\n");
    GetListValue(text, key, "=", "&\r\n", "|");
    GetListValue(text, key, "=", "\r\n", " ");
    ParseDecimal(value);
    ParseDecimal16(value);
    Split(text, '&');
    return 0;
}
