// One line of the conversation between RtspServer and its media process
// (quarnel-sim-rtsp): a verb, then blank-separated key=value fields.
//
//   <verb> <key>=<value> <key>=<value> ...\n
//
// Values are percent-encoded (RFC 3986 style, upper-case hex) wherever they
// hold '%', '=', a blank, a control character or a byte above 0x7E, so any
// text - header values, passwords, URLs - survives one line. Keys are plain
// words; a key may repeat (Get returns the first).
//
// Thread-safety: value type; the functions are pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dravnel::sim {

class ControlLine {
public:
    ControlLine() = default;
    explicit ControlLine(std::string verb) : verb_(std::move(verb)) {}

    const std::string& Verb() const { return verb_; }
    ControlLine& Set(std::string key, std::string value);
    ControlLine& Set(std::string key, uint64_t value);
    bool Has(std::string_view key) const;
    // The value of the first field with that key; empty when absent.
    std::string Get(std::string_view key) const;
    // The decimal value; nullopt when absent or not a number below 2^32.
    std::optional<uint32_t> GetNumber(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& Fields() const { return fields_; }

    // The line with its terminating '\n'.
    std::string Format() const;
    // Reads one line (with or without its '\n' or "\r\n"). nullopt for an
    // empty line, a field without '=', a bad escape or a bad key.
    static std::optional<ControlLine> Parse(std::string_view line);

    static std::string Encode(std::string_view value);
    static std::optional<std::string> Decode(std::string_view text);

private:
    std::string verb_;
    std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace dravnel::sim
