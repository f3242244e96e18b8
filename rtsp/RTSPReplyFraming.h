// Where one RTSP reply ends in a byte stream: the header block runs to the
// first empty line (CR LF CR LF), and "Content-Length" bytes of body follow.
// A reply larger than kMaxReplyBytes is refused instead of being read. The
// reply's "CSeq" tells which request it answers.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dravnel {

constexpr size_t kMaxReplyBytes = 64 * 1024;

// Length of the header block including its empty line; npos while incomplete.
size_t HeaderBlockLength(std::string_view text);

// The body length a header block announces: 0 without a Content-Length line
// (the name in any case, blanks after the colon optional) or with a value
// that is not a number; values beyond kMaxReplyBytes give kMaxReplyBytes + 1.
size_t AnnouncedContentLength(std::string_view headerBlock);

// The sequence number a reply's "CSeq" line names (the name in any case,
// blanks around the value allowed); none without such a line or with a value
// that is not a 32-bit decimal number.
std::optional<uint32_t> ReplyCSeq(std::string_view headerBlock);

}  // namespace dravnel
