// The list of settings to send to the device's video page: a value goes out
// only when the device reports its key and reports a different value.
//
//   reported: &ch1_strm1_codec=H264&ch1_strm1_res=CIF&ch1_strm1_fps=25
//   Change("ch1_strm1_res", "4CIF")  -> list "&ch1_strm1_res=4CIF"
//   Change("ch1_strm1_fps", "25")    -> unchanged
//   Change("ch1_strm1_gov", "25")    -> not reported, never sent
//
// Keys are looked up as HUtils::GetValue does (separator "=", terminators
// '&', CR, LF; the first non-empty value counts). A changed value is written
// into the reported text too, so later lookups and messages see it.
//
// Thread-safety: none; one builder per request, on one thread.
#pragma once

#include <cstddef>
#include <string>

namespace dravnel {

class CStreamChanges {
public:
    enum class Result {
        Changed,      // appended to the list
        Unchanged,    // the device already has the value
        NotReported,  // the device does not report the key: never sent
        EmptyValue,   // nothing wanted (e.g. a size without a name): skipped
    };

    explicit CStreamChanges(std::string reported) : text_(std::move(reported)) {}

    Result Change(const std::string& key, const std::string& wanted);
    // Appends "&key=value" whatever the device reports.
    void Append(const std::string& key, const std::string& value);

    // "&key=value..." in the order of the changes.
    const std::string& List() const { return list_; }
    bool Empty() const { return list_.empty(); }
    const std::string& Text() const { return text_; }

    // Where the value of `key` lies in `text`; false when the key has no
    // non-empty value there.
    static bool FindValue(const std::string& text, const std::string& key, size_t& offset, size_t& length);

private:
    std::string text_;
    std::string list_;
};

}  // namespace dravnel
