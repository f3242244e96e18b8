// A scripted RTSP server for the client's tests: listens on 127.0.0.1,
// serves one connection at a time, records every request byte for byte and
// answers each one as its script says: any bytes, in any number of writes.
// Tests may also push bytes of their own (interleaved frames) at any time;
// pushes and answers never interleave inside each other.
//
// Thread-safety: every public operation may be called from any thread; the
// script runs on the server's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace quarnel::test {

class ScriptedRtspServer {
public:
    struct Request {
        std::string text;    // as received, header block and body
        std::string method;  // first word
        std::string url;     // second word
        uint32_t cseq = 0;
        size_t connection = 0;  // 1 for the first connection
        uint32_t atMs = 0;      // platform::MonotonicMs on arrival
        std::string Header(const std::string& name) const;  // value after "name: ", empty when absent
    };
    // What to write in answer: each element is one write, with a short pause
    // between writes; an empty list answers nothing.
    using Script = std::function<std::vector<std::string>(const Request&)>;

    explicit ScriptedRtspServer(Script script);
    ~ScriptedRtspServer();

    uint16_t Port() const { return port_; }
    std::vector<Request> Requests() const;
    std::vector<std::string> Methods() const;
    // Waits until `count` requests of `method` arrived.
    bool WaitFor(const std::string& method, size_t count, uint32_t timeoutMs) const;
    // Writes on the current connection; false without one or when it fails.
    bool Push(std::span<const uint8_t> bytes);
    bool Push(const std::string& text) {
        return Push(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    void CloseConnection();

    // "RTSP/1.0 <status>" with the request's CSeq, the extra header lines
    // (each ending in CR LF) and a body with its Content-Length.
    static std::string Reply(const Request& request, const std::string& status = "200 OK",
                             const std::string& headers = "", const std::string& body = "");

private:
    void Run();
    void Serve(platform::Socket& connection);

    Script script_;
    platform::Socket listener_;
    uint16_t port_ = 0;
    platform::Event stop_{platform::Event::Mode::Manual};
    platform::Thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;
    size_t connections_ = 0;

    std::mutex writeMutex_;
    platform::Socket* connection_ = nullptr;  // guarded by writeMutex_
};

}  // namespace quarnel::test
