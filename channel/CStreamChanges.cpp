#include "channel/CStreamChanges.h"

#include "web/HUtils.h"

namespace dravnel {

bool CStreamChanges::FindValue(const std::string& text, const std::string& key, size_t& offset, size_t& length) {
    return HUtils::FindValue(text, key, "=", "&\r\n", offset, length);
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
