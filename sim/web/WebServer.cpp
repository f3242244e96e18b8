#include "sim/web/WebServer.h"

#include <httplib.h>

#include <mutex>

#include "platform/Event.h"
#include "platform/Thread.h"

namespace dravnel::sim {

std::string WebPageRequest::Param(const std::string& name) const {
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

struct WebServer::Impl {
    explicit Impl(HttpAuthenticator& authenticator) : auth(authenticator) {}

    void Handle(const httplib::Request& req, httplib::Response& res);
    void Send(const WebPageReply& reply, const WebFaults& faults, httplib::Response& res);
    void Record(const httplib::Request& req, const std::string& scheme, int status);

    HttpAuthenticator& auth;
    httplib::Server server;
    platform::Thread thread;
    platform::Event stopping{platform::Event::Mode::Manual};
    uint16_t port = 0;
    bool started = false;
    bool stopped = false;

    mutable std::mutex mutex;
    std::map<std::string, WebPage> pages;
    WebFaults faults;
    std::vector<WebLogEntry> log;
};

void WebServer::Impl::Record(const httplib::Request& req, const std::string& scheme, int status) {
    WebLogEntry entry;
    entry.method = req.method;
    entry.target = req.target;
    entry.authScheme = scheme;
    entry.status = status;
    entry.userAgent = req.get_header_value("User-Agent");
    entry.clientPort = req.remote_port;
    for (const auto& [name, value] : req.headers) entry.headers.emplace_back(name, value);
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(std::move(entry));
}

void WebServer::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
    WebFaults active;
    WebPage page;
    {
        std::lock_guard<std::mutex> lock(mutex);
        active = faults;
        const auto it = pages.find(req.path);
        if (it != pages.end()) page = it->second;
    }
    if (active.delayMs != 0 && stopping.Wait(active.delayMs)) {
        res.status = 503;  // stopping
        return;
    }

    const auto verdict = auth.Check(req.method, req.target, req.get_header_value("Authorization"));
    WebPageReply reply;
    if (!verdict.granted) {
        reply.status = 401;
        reply.body = "401 Unauthorized\r\n";
        for (const std::string& challenge : verdict.challenges) res.set_header("WWW-Authenticate", challenge);
        active = WebFaults{};
    } else if (active.status != 0) {
        reply.status = active.status;
    } else if (page) {
        WebPageRequest request;
        request.method = req.method;
        request.path = req.path;
        request.target = req.target;
        request.body = req.body;
        for (const auto& [name, value] : req.params) request.params.emplace(name, value);
        reply = page(request);
    } else {
        reply.status = 404;
        reply.body = "404 Not Found\r\n";
    }
    Record(req, verdict.scheme, reply.status);
    Send(reply, active, res);
}

void WebServer::Impl::Send(const WebPageReply& reply, const WebFaults& active, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    // These replies end with their head (RFC 9110, 6.4.1): a body would be
    // read as the start of the next reply on the connection.
    if (reply.status == 204 || reply.status == 304 || (reply.status >= 100 && reply.status < 200)) return;
    const std::string body = reply.body;
    if (active.closeMidReply) {
        res.set_content_provider(body.size(), reply.contentType, [body](size_t, size_t, httplib::DataSink& sink) {
            sink.write(body.data(), body.size() / 2);
            return false;  // breaks the connection off
        });
        return;
    }
    std::function<bool(std::string&)> stream = reply.stream;
    if (active.endlessBody)
        stream = [body](std::string& chunk) {
            chunk = body.empty() ? std::string(".") : body;
            return true;
        };
    if (stream) {
        const uint32_t interval = reply.streamIntervalMs;
        auto first = std::make_shared<bool>(true);
        res.set_chunked_content_provider(reply.contentType,
                                         [this, body, stream, interval, first](size_t, httplib::DataSink& sink) {
                                             if (*first) {
                                                 *first = false;
                                                 if (!body.empty() && !sink.write(body.data(), body.size()))
                                                     return false;
                                                 return true;
                                             }
                                             if (stopping.Wait(interval) || !sink.is_writable()) return false;
                                             std::string chunk;
                                             if (!stream(chunk)) {
                                                 sink.done();
                                                 return true;
                                             }
                                             return chunk.empty() || sink.write(chunk.data(), chunk.size());
                                         });
        return;
    }
    if (active.noContentLength) {
        res.set_header("Connection", "close");
        res.set_content_provider(reply.contentType, [body](size_t, httplib::DataSink& sink) {
            if (!body.empty()) sink.write(body.data(), body.size());
            return false;  // the server then closes the connection, which ends the body
        });
        return;
    }
    res.set_content(body, reply.contentType);
}

WebServer::WebServer() : auth_(std::make_unique<HttpAuthenticator>()), impl_(std::make_unique<Impl>(*auth_)) {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { impl_->Handle(req, res); };
    impl_->server.Get(".*", handler);
    impl_->server.Post(".*", handler);
    impl_->server.Put(".*", handler);
    impl_->server.Delete(".*", handler);
    impl_->server.Options(".*", handler);
    impl_->server.set_keep_alive_max_count(1000);
    impl_->server.set_tcp_nodelay(true);  // a head and its body go out in separate writes
    // An idle kept connection holds a server thread this long, and so delays Stop.
    impl_->server.set_keep_alive_timeout(1);
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Start(uint16_t port) {
    if (impl_->started) return false;
    int bound = 0;
    if (port == 0) {
        bound = impl_->server.bind_to_any_port(Address());
    } else if (impl_->server.bind_to_port(Address(), port)) {
        bound = port;
    }
    if (bound <= 0) return false;
    impl_->port = static_cast<uint16_t>(bound);
    impl_->started = true;
    if (!impl_->thread.Start([this] { impl_->server.listen_after_bind(); })) return false;
    // A stop before the accept loop runs would go unnoticed by it.
    for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i) impl_->stopping.Wait(1);
    return impl_->server.is_running();
}

void WebServer::Stop() {
    if (!impl_->started || impl_->stopped) return;
    impl_->stopped = true;
    impl_->stopping.Set();
    impl_->server.stop();
    impl_->thread.Join();
}

uint16_t WebServer::Port() const { return impl_->port; }

void WebServer::SetAuth(WebAuth mode, std::string user, std::string password) {
    auth_->Configure(mode, std::move(user), std::move(password));
}

void WebServer::SetPage(const std::string& path, WebPage page) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->pages[path] = std::move(page);
}

void WebServer::SetPageText(const std::string& path, std::string text) {
    SetPage(path, [text = std::move(text)](const WebPageRequest&) {
        WebPageReply reply;
        reply.body = text;
        return reply;
    });
}

void WebServer::SetFaults(const WebFaults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults = faults;
}

std::vector<WebLogEntry> WebServer::Log() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->log;
}

void WebServer::ClearLog() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->log.clear();
}

}  // namespace dravnel::sim
