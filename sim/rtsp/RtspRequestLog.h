// What the simulated camera's RTSP server saw: every answered request, in
// order, and the client connections currently open.
//
// The log keeps the newest kCapacity requests; every request has a running
// index (from 0), so a test can note NextIndex() before it acts and then wait
// for a request from that index on. Counts cover every request ever logged.
//
// Thread-safety: all members may be called from any thread at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dravnel::sim {

struct RtspRequest {
    uint64_t index = 0;
    unsigned connection = 0;  // numbered from 1 in the order the server accepted them
    std::string method;       // "DESCRIBE", "SETUP", ...
    std::string url;
    std::string cseq;
    std::string authorization;  // the whole header value; empty when none came
    std::string transport;
    std::string session;
    std::string userAgent;
    unsigned status = 0;  // answered status
    std::string replySession;
    std::string replyTransport;

    // "Basic", "Digest", ... (the first word of the Authorization value); empty without one.
    std::string AuthScheme() const;
};

class RtspRequestLog {
public:
    static constexpr size_t kCapacity = 4096;

    void Add(RtspRequest request);
    void ConnectionOpened(unsigned id);
    void ConnectionClosed(unsigned id);
    // The server went away with every connection.
    void AllConnectionsClosed();

    std::vector<RtspRequest> Requests() const;
    uint64_t NextIndex() const;
    size_t Count(std::string_view method) const;
    size_t OpenConnections() const;

    // The first request from index `from` on whose method matches (any method
    // when empty) and that satisfies `also` when given; nullopt on time-out.
    std::optional<RtspRequest> WaitFor(std::string_view method, uint32_t timeoutMs, uint64_t from = 0,
                                       const std::function<bool(const RtspRequest&)>& also = {}) const;
    // True when exactly `count` connections are open within the time-out.
    bool WaitForOpenConnections(size_t count, uint32_t timeoutMs) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<RtspRequest> requests_;
    uint64_t next_ = 0;
    std::map<std::string, size_t, std::less<>> counts_;
    std::set<unsigned> open_;
};

}  // namespace dravnel::sim
