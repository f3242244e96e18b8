// Reading the devices' name=value replies, and small text helpers.
//
// A CGI reply is ASCII text of name=value entries ending at CR, LF or '&'.
// Names match exactly after blanks and tabs around them are trimmed; the value
// runs from after the first separator to the next terminator, untrimmed. The
// same lookup reads header-like text with the separator ": ".
//
// Thread-safety: pure functions.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// gnu_printf: the C99 formats (%zu, %llu), which mingw's printf also takes
// while g++'s "printf" there means the older C run-time's.
#if defined(__GNUC__) && !defined(__clang__)
#define HUTILS_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define HUTILS_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define HUTILS_PRINTF(fmt, args)
#endif

namespace dravnel::HUtils {

// The first non-empty value of `key`; empty when there is none, or when key,
// separator or terminators are empty.
std::string GetValue(std::string_view text, std::string_view key, std::string_view separator,
                     std::string_view terminators);
// Where GetValue's value lies in `text`; false when there is none.
bool FindValue(std::string_view text, std::string_view key, std::string_view separator, std::string_view terminators,
               size_t& offset, size_t& length);
// ParseDecimal of GetValue (0 when absent).
uint32_t GetNumericValue(std::string_view text, std::string_view key, std::string_view separator,
                         std::string_view terminators);
// GetValue cut at every listSeparator, empty parts dropped, parts untrimmed.
std::vector<std::string> GetListValue(std::string_view text, std::string_view key, std::string_view separator,
                                      std::string_view terminators, std::string_view listSeparator);

// Unsigned decimal digits only, wrapping on overflow; anything else gives 0.
uint32_t ParseDecimal(std::string_view text);
uint16_t ParseDecimal16(std::string_view text);

// Without blanks and tabs at both ends.
std::string Trim(std::string_view text);
// The parts between delimiters; empty parts count, nothing follows a final one.
std::vector<std::string> Split(std::string_view text, char delimiter);
std::string Format(const char* format, ...) HUTILS_PRINTF(1, 2);
// Format over a va_list; the list is used once. The formatted text has no
// length limit.
std::string FormatV(const char* format, va_list args) HUTILS_PRINTF(1, 0);
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);

}  // namespace dravnel::HUtils
