// A TCP peer on 127.0.0.1 that plays a script, for the HTTP and RTSP clients'
// tests. It cuts each request head (up to its empty line) out of what
// arrives, records it and answers as the script says: each element of the
// answer is one write, with a short pause between writes; an empty element
// hangs up; an empty answer leaves the request unanswered and the connection
// open. Request bodies are not read. Tests may push bytes of their own onto
// the newest connection at any time; pushes and answers never interleave
// inside each other.
//
// Thread-safety: every public operation may be called from any thread; the
// script runs on the thread of the connection that asked, one per connection.
#pragma once

#include <algorithm>
#include <functional>
#include <list>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "tests/support/WaitUntil.h"
#include "web/HUtils.h"

namespace dravnel::test {

class ScriptedTcpServer {
public:
    struct Request {
        std::string text;       // as received, up to and with its empty line
        std::string method;     // first word
        std::string target;     // second word
        size_t connection = 0;  // 1 for the first connection
        // The value after "name: ", empty when absent.
        std::string Header(const std::string& name) const {
            return dravnel::HUtils::GetValue(text, name, ": ", "\r\n");
        }
    };
    using Writes = std::vector<std::string>;
    using Script = std::function<Writes(const Request&)>;

    explicit ScriptedTcpServer(Script script) : script_(std::move(script)) {
        if (listener_.Create(platform::Socket::Kind::Tcp) && listener_.Bind(0, htonl(INADDR_LOOPBACK)) &&
            listener_.Listen(8))
            acceptor_ = std::thread([this] { Accept(); });
    }
    ~ScriptedTcpServer() {
        stop_.Set();
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& t : connections_) t.join();
    }

    uint16_t Port() const { return listener_.LocalPort(); }
    std::vector<Request> Requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return requests_;
    }
    std::vector<std::string> Methods() const {
        std::vector<std::string> methods;
        for (const auto& r : Requests()) methods.push_back(r.method);
        return methods;
    }
    // Waits until `count` requests of `method` arrived.
    bool WaitFor(const std::string& method, size_t count, uint32_t timeoutMs) const {
        const auto arrived = [&] {
            const auto methods = Methods();
            return size_t(std::count(methods.begin(), methods.end(), method)) >= count;
        };
        return WaitUntil(arrived, std::chrono::milliseconds(timeoutMs));
    }
    // Writes on the newest connection; false without one or when it fails.
    bool Push(const std::string& bytes) {
        std::lock_guard<std::mutex> guard(mutex_);
        return newest_ && newest_->SendAll(bytes);
    }

private:
    void Accept() {
        for (size_t number = 1; listener_.WaitReadable(platform::kInfinite, &stop_) == platform::IoStatus::Ok;) {
            platform::Socket s = listener_.Accept();
            if (!s.IsOpen()) continue;
            s.SetSendTimeout(2000);
            connections_.emplace_back([this, s = std::move(s), number = number++]() mutable { Serve(s, number); });
        }
    }

    void Serve(platform::Socket& connection, size_t number) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            newest_ = &connection;
        }
        Answer(connection, number);
        std::lock_guard<std::mutex> guard(mutex_);
        if (newest_ == &connection) newest_ = nullptr;
    }

    void Answer(platform::Socket& connection, size_t number) {
        std::string buffer;
        uint8_t chunk[4096];
        while (connection.WaitReadable(platform::kInfinite, &stop_) == platform::IoStatus::Ok) {
            const platform::IoResult got = connection.Receive(chunk);
            if (!got) return;
            buffer.append(reinterpret_cast<const char*>(chunk), got.bytes);
            for (size_t end; (end = buffer.find("\r\n\r\n")) != std::string::npos;) {
                Request request{buffer.substr(0, end + 4), "", "", number};
                buffer.erase(0, end + 4);
                std::istringstream(request.text) >> request.method >> request.target;
                {
                    std::lock_guard<std::mutex> guard(mutex_);
                    requests_.push_back(request);
                }
                const Writes writes = script_(request);
                for (size_t i = 0; i < writes.size(); ++i) {
                    // A pause between writes lets them leave as separate
                    // segments, so that the client meets a reply in pieces.
                    // It proves nothing by itself: a slow machine that merges
                    // them only makes the reads fewer; no check waits on it.
                    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    if (writes[i].empty()) return connection.Shutdown();
                    std::lock_guard<std::mutex> guard(mutex_);
                    if (!connection.SendAll(writes[i])) return;
                }
            }
        }
    }

    Script script_;
    platform::Socket listener_;
    platform::Event stop_{platform::Event::Mode::Manual};
    std::thread acceptor_;
    std::list<std::thread> connections_;  // only the acceptor adds, only the destructor joins

    mutable std::mutex mutex_;  // guards what follows, and writes on a connection
    std::vector<Request> requests_;
    platform::Socket* newest_ = nullptr;
};

}  // namespace dravnel::test
