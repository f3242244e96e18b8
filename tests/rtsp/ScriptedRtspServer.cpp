#include "ScriptedRtspServer.h"

#include <arpa/inet.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "rtsp/RTSPReplyFraming.h"
#include "web/HUtils.h"

namespace quarnel::test {

std::string ScriptedRtspServer::Request::Header(const std::string& name) const {
    return dravnel::HUtils::GetValue(text.substr(0, dravnel::HeaderBlockLength(text)), name, ": ", "\r\n");
}

ScriptedRtspServer::ScriptedRtspServer(Script script) : script_(std::move(script)) {
    if (!listener_.Create(platform::Socket::Kind::Tcp) || !listener_.SetReuseAddress(true) ||
        !listener_.Bind(0, htonl(INADDR_LOOPBACK)) || !listener_.Listen(4))
        return;
    port_ = listener_.LocalPort();
    thread_.Start([this] { Run(); });
}

ScriptedRtspServer::~ScriptedRtspServer() {
    stop_.Set();
    thread_.Join();
}

void ScriptedRtspServer::Run() {
    while (!stop_.IsSet()) {
        if (listener_.WaitReadable(platform::kInfinite, &stop_) != platform::IoStatus::Ok) return;
        platform::Socket connection = listener_.Accept();
        if (!connection.IsOpen()) continue;
        connection.SetSendTimeout(2000);
        {
            std::lock_guard<std::mutex> guard(writeMutex_);
            connection_ = &connection;
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++connections_;
        }
        Serve(connection);
        std::lock_guard<std::mutex> guard(writeMutex_);
        connection_ = nullptr;
    }
}

void ScriptedRtspServer::Serve(platform::Socket& connection) {
    std::string buffer;
    uint8_t chunk[4096];
    while (connection.WaitReadable(platform::kInfinite, &stop_) == platform::IoStatus::Ok) {
        const platform::IoResult got = connection.Receive(chunk);
        if (!got) return;
        buffer.append(reinterpret_cast<const char*>(chunk), got.bytes);
        for (;;) {
            const size_t header = dravnel::HeaderBlockLength(buffer);
            if (header == std::string::npos) break;
            const size_t length = header + dravnel::AnnouncedContentLength(buffer.substr(0, header));
            if (buffer.size() < length) break;
            Request request;
            request.text = buffer.substr(0, length);
            buffer.erase(0, length);
            const auto words = dravnel::HUtils::Split(request.text.substr(0, request.text.find("\r\n")), ' ');
            request.method = words.size() > 0 ? words[0] : "";
            request.url = words.size() > 1 ? words[1] : "";
            request.cseq = dravnel::HUtils::ParseDecimal(request.Header("CSeq"));
            request.atMs = platform::MonotonicMs();
            {
                std::lock_guard<std::mutex> guard(mutex_);
                request.connection = connections_;
                requests_.push_back(request);
                changed_.notify_all();
            }
            const auto writes = script_ ? script_(request) : std::vector<std::string>();
            for (size_t i = 0; i < writes.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (!Push(writes[i])) return;
            }
        }
    }
}

bool ScriptedRtspServer::Push(std::span<const uint8_t> bytes) {
    std::lock_guard<std::mutex> guard(writeMutex_);
    return connection_ && connection_->SendAll(bytes);
}

void ScriptedRtspServer::CloseConnection() {
    std::lock_guard<std::mutex> guard(writeMutex_);
    if (connection_) connection_->Shutdown();
}

std::vector<ScriptedRtspServer::Request> ScriptedRtspServer::Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<std::string> ScriptedRtspServer::Methods() const {
    std::vector<std::string> methods;
    for (const auto& r : Requests()) methods.push_back(r.method);
    return methods;
}

bool ScriptedRtspServer::WaitFor(const std::string& method, size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        size_t n = 0;
        for (const auto& r : requests_) n += r.method == method;
        return n >= count;
    });
}

std::string ScriptedRtspServer::Reply(const Request& request, const std::string& status, const std::string& headers,
                                      const std::string& body) {
    std::string text = "RTSP/1.0 " + status + "\r\nCSeq: " + std::to_string(request.cseq) + "\r\n" + headers;
    if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

}  // namespace quarnel::test
