#include "channel/CStreamChanges.h"

#include <algorithm>
#include <string_view>

#include "web/HUtils.h"

namespace dravnel {

// The walk of HUtils::GetValue (separator "=", terminators '&', CR, LF),
// step for step, keeping the position of the value it finds.
bool CStreamChanges::FindValue(const std::string& text, const std::string& key, size_t& offset, size_t& length) {
    if (key.empty()) return false;
    constexpr std::string_view kTerminators = "&\r\n";
    constexpr size_t npos = std::string::npos;
    // Each retry searches strictly after the last hit, so the walk ends.
    const auto next = [&](size_t from, size_t last) {
        return from == npos || from >= text.size() ? npos : text.find(key, std::max(from, last + 1));
    };
    size_t p = text.find(key);
    while (p != npos) {
        const size_t lastTerminator = p == 0 ? npos : text.find_last_of(kTerminators, p);
        const size_t entryStart = lastTerminator == npos ? 0 : lastTerminator + 1;
        size_t entryEnd = text.find_first_of(kTerminators, p);
        if (entryEnd == npos) entryEnd = text.size();
        const size_t s = text.find('=', p);
        if (s == npos) return false;
        if (s >= entryEnd) {
            p = next(s, p);
            continue;
        }
        if (HUtils::Trim(std::string_view(text).substr(entryStart, s - entryStart)) != key) {
            p = next(entryEnd, p);
            continue;
        }
        const size_t v = s + 1;
        if (v >= text.size()) {
            p = next(entryEnd, p);
            continue;
        }
        size_t valueEnd = text.find_first_of(kTerminators, v);
        if (valueEnd == npos) valueEnd = text.size();
        if (valueEnd > v) {
            offset = v;
            length = valueEnd - v;
            return true;
        }
        p = next(valueEnd, p);
    }
    return false;
}

CStreamChanges::Result CStreamChanges::Change(const std::string& key, const std::string& wanted) {
    size_t offset = 0;
    size_t length = 0;
    if (!FindValue(text_, key, offset, length)) return Result::NotReported;
    if (wanted.empty()) return Result::EmptyValue;
    if (text_.compare(offset, length, wanted) == 0) return Result::Unchanged;
    text_.replace(offset, length, wanted);
    Append(key, wanted);
    return Result::Changed;
}

void CStreamChanges::Append(const std::string& key, const std::string& value) {
    list_ += '&';
    list_ += key;
    list_ += '=';
    list_ += value;
}

}  // namespace dravnel
