// The simulated camera's web server: CGI pages over HTTP/1.1 on 127.0.0.1.
//
// Pages are registered by path; a page gets the request with its decoded
// query parameters and returns the reply. Authentication (none, Basic,
// Digest) guards every page. A request log records what each request
// presented and what it was answered. Fault switches make the server answer
// with a fixed status, wait before answering, break a reply off, leave out
// the length, or keep a body streaming until the client goes away.
//
// Thread-safety: every member may be called from any thread while the server
// runs; pages are called on the server's threads, several at once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/web/HttpAuthenticator.h"

namespace dravnel::sim {

struct WebPageRequest {
    std::string method;
    std::string path;    // decoded, without the query
    std::string target;  // path and query as received
    std::multimap<std::string, std::string> params;
    std::string body;

    // The first value of a query parameter; empty when absent.
    std::string Param(const std::string& name) const;
};

struct WebPageReply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra header lines, e.g. Location
    // When set, the body is followed by what this source produces, sent with
    // chunked coding for as long as it returns true, the client listens and
    // the server runs. It is asked every streamIntervalMs; an empty chunk
    // sends nothing that round.
    std::function<bool(std::string& chunk)> stream;
    uint32_t streamIntervalMs = 50;
};

using WebPage = std::function<WebPageReply(const WebPageRequest&)>;

struct WebLogEntry {
    std::string method;
    std::string target;      // path and query as received
    std::string authScheme;  // scheme of the Authorization header, "" without one
    int status = 0;          // the status answered
    std::string userAgent;
    int clientPort = 0;  // the client's port: tells connections apart
    std::vector<std::pair<std::string, std::string>> headers;
};

struct WebFaults {
    int status = 0;                // answer every authorised request with this status (0: off)
    uint32_t delayMs = 0;          // wait this long before answering
    bool closeMidReply = false;    // announce the whole body, send half of it and close
    bool noContentLength = false;  // send the body without a length and close after it
    bool endlessBody = false;      // after the body, keep repeating it until the client goes
};

class WebServer {
public:
    WebServer();
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on 127.0.0.1 at `port`, or at a free port when it is 0. False
    // when the port cannot be bound or the server already ran.
    bool Start(uint16_t port = 0);
    // Ends every connection and waits for the server's threads.
    void Stop();
    uint16_t Port() const;
    static const char* Address() { return "127.0.0.1"; }

    void SetAuth(WebAuth mode, std::string user, std::string password);

    void SetPage(const std::string& path, WebPage page);
    // A page that always answers 200 with this text.
    void SetPageText(const std::string& path, std::string text);

    void SetFaults(const WebFaults& faults);

    std::vector<WebLogEntry> Log() const;
    void ClearLog();

private:
    struct Impl;
    std::unique_ptr<HttpAuthenticator> auth_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dravnel::sim
