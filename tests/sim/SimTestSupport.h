// What the simulated camera's tests share: the media process to run, what
// this process holds (ThreadState.h), whether a port or a child is gone, a plain HTTP client (cpp-httplib, which shares
// nothing with the driver's senders), and ffprobe as an oracle that knows nothing of the simulator.
#pragma once

#include <httplib.h>
#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "platform/Socket.h"
#include "platform/Terminal.h"
#include "tests/support/ThreadState.h"

namespace dravnel::test {

inline constexpr const char* kSimRtspExecutable = QUARNEL_BIN_DIR "/quarnel-sim-rtsp";

// A connection to the port on 127.0.0.1; closed when none came about.
inline platform::Socket ConnectTo(uint16_t port) {
    platform::Socket socket;
    if (!socket.Create(platform::Socket::Kind::Tcp) || !socket.Connect(htonl(INADDR_LOOPBACK), port, 10))
        socket.Close();
    return socket;
}

// Appends what the socket brings within the time-out; Timeout when nothing
// came, Closed when the peer ended the connection.
inline platform::IoStatus ReadSome(platform::Socket& socket, std::string& text, uint32_t timeoutMs) {
    if (const auto ready = socket.WaitReadable(timeoutMs); ready != platform::IoStatus::Ok) return ready;
    uint8_t chunk[4096];
    const auto got = socket.Receive(chunk);
    text.append(reinterpret_cast<const char*>(chunk), got.bytes);
    return got.status;
}

// Nobody listens on the port: a new listener can take it.
inline bool PortFree(uint16_t port) {
    platform::Socket socket;
    return socket.Create(platform::Socket::Kind::Tcp) && socket.SetReuseAddress(true) &&
           socket.Bind(port, htonl(INADDR_LOOPBACK)) && socket.Listen();
}

inline bool ProcessGone(int pid) { return pid > 0 && kill(pid, 0) == -1 && errno == ESRCH; }

struct SimHttpReply {
    int status = 0;  // 0: no answer
    std::string body;
};

inline SimHttpReply SimHttpGet(uint16_t port, const std::string& target, const std::string& user = {},
                               const std::string& password = {}) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    if (!user.empty()) client.set_digest_auth(user, password);
    SimHttpReply reply;
    if (auto result = client.Get(target)) {
        reply.status = result->status;
        reply.body = result->body;
    }
    return reply;
}

// ffprobe's view of the first stream (codec_name, width, height,
// r_frame_rate) and its exit status as "exit".
inline std::map<std::string, std::string> FfProbe(const std::string& url, const std::string& transport = "tcp") {
    const auto run =
        platform::RunProgram("ffprobe",
                             {"-v", "error", "-rtsp_transport", transport, "-timeout", "5000000", "-show_entries",
                              "stream=codec_name,width,height,r_frame_rate", "-of", "default=noprint_wrappers=1", url},
                             20000);
    std::map<std::string, std::string> fields{{"exit", std::to_string(run.exitCode)}};
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);)
        if (const size_t eq = line.find('='); eq != std::string::npos)
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
    return fields;
}

}  // namespace dravnel::test
