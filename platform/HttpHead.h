// The head of an HTTP reply as libcurl hands it over, one line at a time:
// its status, its header lines, and whether it is the head the caller gets.
//
// libcurl delivers every head it reads, interim ones (1xx) and those it may
// answer itself (a 401 it retries with credentials, a redirect it follows)
// included. A head of such a status is only "ended": it becomes final when a
// body byte or the end of the transfer shows that libcurl let it through.
//
// Thread-safety: none; owned by one transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel::platform {

// ASCII case-insensitive comparison, as header names compare (RFC 9110).
bool EqualsNoCase(std::string_view a, std::string_view b);

class HttpHead {
public:
    // A server that never ends its head (or its trailers) is cut off here.
    static constexpr size_t kMaxBytes = 256 * 1024;

    // Forgets the last reply; redirects are answered by libcurl when it follows them.
    void Reset(bool followRedirects);
    // One raw line, line end included. False once the head grew too long:
    // the transfer must fail.
    bool Take(std::string_view raw);
    // A body byte arrived: an ended head was let through.
    void OnBody();
    // The transfer ended: whatever head ended last is the answer.
    void OnDone();

    uint32_t Status() const { return status_; }
    bool Final() const { return final_; }
    // Values of every header line named `name` (case-insensitive), trimmed.
    std::vector<std::string> Values(std::string_view name) const;

private:
    bool MayBeAnsweredByCurl(uint32_t code) const;

    bool followRedirects_ = false;
    uint32_t status_ = 0;
    bool ended_ = false;  // a head ended whose status libcurl may still answer itself
    bool final_ = false;  // the head handed to the caller
    size_t bytes_ = 0;
    std::vector<std::string> lines_;
};

}  // namespace dravnel::platform
