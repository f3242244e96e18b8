// A device's web server as the driver's CGI users see it: send one request,
// keep it open, pull its body. Each sender serves the one device it was built
// for and keeps its connection between requests.
//
// Thread-safety: one thread (the owner's) uses a sender; CloseRequest may
// also be called from any other thread, and then ends a pending send or read
// of the owner promptly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quarnel/Types.h"

namespace dravnel::platform {
class HttpClient;
enum class HttpApi;
}  // namespace dravnel::platform

namespace Web {

class CHttpRequest;

class CBaseHttpSender {
public:
    // Largest single read of a body.
    static constexpr uint32_t kReadChunk = 8192;
    // Most body bytes ReadResponse takes in: CGI replies are a few kB, and a
    // camera that sends an endless body must not fill the recorder's memory.
    static constexpr uint64_t kMaxBody = uint64_t{1} << 20;

    explicit CBaseHttpSender(const dravnel::DEVICE_INFO& device);
    virtual ~CBaseHttpSender();
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

    // Sends the request and waits for the response head; on true the request
    // stays open for reading its body.
    virtual bool SendRequest(const CHttpRequest& request) = 0;
    virtual void CloseRequest() = 0;
    // Body bytes ready to read (waiting for some); 0 at the end, without a
    // request, or on failure.
    virtual uint32_t QueryDataAvailable() = 0;
    // Clears `body` and reads the whole body into it; its size.
    virtual uint32_t ReadResponse(std::vector<uint8_t>& body) = 0;
    // Optionally clears `body`, then appends at most `limit` bytes; their count.
    virtual uint32_t ReadData(std::vector<uint8_t>& body, uint32_t limit, bool clear) = 0;
    // Whether the last ReadResponse stopped before the body's end: at
    // kMaxBody bytes, or when the whole read took the device's HTTP time-out
    // (a body that trickles in); the body then holds what came before.
    bool ReplyCut() const { return replyCut_; }

    // Any thread: closes the current request and refuses every later one
    // until Resume, so that an owner about to send cannot slip past a stop.
    void Cancel();
    void Resume();
    // Closes the request and every kept connection (owner's thread).
    void DropConnections();

    const dravnel::DEVICE_INFO& Device() const { return device_; }
    // Status of the last response, 0 when there was none.
    uint32_t StatusCode() const { return statusCode_; }
    // "Content-Length" of the last response, 0 when unknown.
    uint32_t ContentLength() const { return contentLength_; }

protected:
    // Sets up the client on `api` (connect and idle time-outs both the
    // device's HTTP time-out); false, with the libcurl or Windows code in
    // `error`, when it cannot be set up: the client then stays null and every
    // request fails.
    bool OpenClient(std::string userAgent, dravnel::platform::HttpApi api, int& error);
    // The shared body of CloseRequest, QueryDataAvailable and ReadData.
    void CloseClientRequest();
    uint32_t QueryClientAvailable();
    uint32_t ReadClientData(std::vector<uint8_t>& body, uint32_t limit, bool clear);
    // Status and length of the client's response head.
    void TakeResponseHead();

    dravnel::DEVICE_INFO device_;
    std::unique_ptr<dravnel::platform::HttpClient> client_;  // null when it could not be set up
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
    bool replyCut_ = false;
};

}  // namespace Web
