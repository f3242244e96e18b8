#include "sim/rtsp/RtspServer.h"

#include <chrono>

#include "platform/Process.h"

namespace dravnel::sim {

namespace {

constexpr const char* kChildName = "quarnel-sim-rtsp";
// After end of input the child normally ends within milliseconds.
constexpr uint32_t kExitGraceMs = 2000;

// Beside the executable in a build tree; in the libexec directory of an
// installed tree.
std::string MediaProcessPath() {
    const std::string directory = platform::ExecutableDirectory();
    const std::string beside = directory + kChildName;
    if (platform::FileExists(beside)) return beside;
    return directory + QUARNEL_LIBEXECDIR_FROM_BINDIR + "/" + kChildName;
}

const char* AuthMode(RtspServer::Auth mode) {
    switch (mode) {
    case RtspServer::Auth::Basic:
        return "basic";
    case RtspServer::Auth::Digest:
        return "digest";
    case RtspServer::Auth::None:
        break;
    }
    return "none";
}

ControlLine AuthCommand(RtspServer::Auth mode, const std::string& user, const std::string& password,
                        const std::string& realm) {
    ControlLine line("auth");
    line.Set("mode", AuthMode(mode));
    if (mode != RtspServer::Auth::None) {
        line.Set("user", user).Set("password", password);
        if (!realm.empty()) line.Set("realm", realm);
    }
    return line;
}

ControlLine StreamCommand(const std::string& path, const RtspStreamConfig& config) {
    ControlLine line("stream");
    line.Set("path", path);
    config.AddTo(line);
    return line;
}

ControlLine RtpCommand(bool on, const std::string& path) {
    ControlLine line("rtp");
    line.Set("on", on ? 1u : 0u);
    if (!path.empty()) line.Set("path", path);
    return line;
}

}  // namespace

RtspServer::RtspServer() : RtspServer(Options{}) {}

RtspServer::RtspServer(Options options) : options_(std::move(options)) {
    for (unsigned channel = 1; channel <= options_.channels; ++channel) {
        for (unsigned stream = 0; stream <= 2; ++stream) {
            RtspStreamConfig config;
            if (stream == 2) {
                config.codec = RtspCodec::JPEG;
                config.fps = 10;
            }
            state_.streams[StreamPath(channel, stream)] = config;
        }
    }
}

RtspServer::~RtspServer() { Stop(); }

bool RtspServer::Start(uint16_t port) {
    std::lock_guard<std::mutex> control(control_);
    if (Running()) {
        SetError("already running");
        return false;
    }
    StopLocked();  // reaps a child that ended by itself
    if (StartLocked(port)) return true;
    StopLocked();
    return false;
}

void RtspServer::Stop() {
    std::lock_guard<std::mutex> control(control_);
    StopLocked();
}

bool RtspServer::Restart() {
    std::lock_guard<std::mutex> control(control_);
    uint16_t port = port_.load();
    StopLocked();
    if (StartLocked(port)) return true;
    StopLocked();
    return false;
}

bool RtspServer::StartLocked(uint16_t port) {
    platform::ChildProcess::Spec spec;
    spec.executable = options_.executable.empty() ? MediaProcessPath() : options_.executable;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        spawned_ = false;
        greeted_ = false;
        spawnError_.clear();
        answers_.clear();
        abandoned_.clear();
    }
    stop_.Reset();
    if (!supervisor_.Start([this, spec] { Supervise(spec); })) {
        SetError("cannot start the supervisor thread");
        return false;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return spawned_; });  // Spawn returns promptly
        if (!childAlive_) {
            std::string error = spawnError_.empty() ? "the media process ended at once" : spawnError_;
            lock.unlock();
            SetError(error);
            return false;
        }
        bool ready = changed_.wait_for(lock, std::chrono::milliseconds(options_.startTimeoutMs),
                                       [this] { return greeted_ || !childAlive_; });
        if (!ready || !greeted_) {
            lock.unlock();
            SetError(ready ? "the media process ended during start-up" : "the media process did not come up in time");
            return false;
        }
    }
    for (ControlLine& command : ReplayCommands()) {
        if (!Apply(std::move(command))) return false;
    }
    ControlLine listen("listen");
    listen.Set("port", port);
    auto answer = Command(std::move(listen));
    if (!answer) return false;
    auto bound = answer->GetNumber("port");
    if (!bound || *bound == 0 || *bound > 65535) {
        SetError("the media process reported no port");
        return false;
    }
    port_ = static_cast<uint16_t>(*bound);
    std::lock_guard<std::mutex> guard(mutex_);
    listening_ = true;
    return true;
}

void RtspServer::StopLocked() {
    if (!supervisor_.Held()) return;
    child_.CloseInput();  // the child ends on end of input
    stop_.Set();
    supervisor_.Join();  // bounded: Supervise kills a child that lingers
    std::lock_guard<std::mutex> guard(mutex_);
    listening_ = false;
    childAlive_ = false;
}

void RtspServer::Supervise(platform::ChildProcess::Spec spec) {
    std::string error;
    bool ok = child_.Spawn(spec, error);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        spawned_ = true;
        childAlive_ = ok;
        spawnError_ = error;
    }
    changed_.notify_all();
    if (!ok) return;

    using Clock = std::chrono::steady_clock;
    bool stopping = false;
    Clock::time_point deadline{};
    std::string pending;
    uint8_t buffer[4096];
    for (;;) {
        uint32_t wait = platform::kInfinite;
        if (stopping) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            wait = static_cast<uint32_t>(left);
        }
        auto result = child_.Read(buffer, wait, stopping ? nullptr : &stop_);
        if (result.status == platform::IoStatus::Ok) {
            pending.append(reinterpret_cast<const char*>(buffer), result.bytes);
            size_t newline;
            while ((newline = pending.find('\n')) != std::string::npos) {
                HandleReport(pending.substr(0, newline));
                pending.erase(0, newline + 1);
            }
            continue;
        }
        if (result.status == platform::IoStatus::Aborted) {
            stopping = true;
            deadline = Clock::now() + std::chrono::milliseconds(kExitGraceMs);
            continue;
        }
        if (result.status == platform::IoStatus::Timeout) continue;
        break;  // end of the child's reports
    }
    if (!child_.WaitExit(stopping ? 500 : kExitGraceMs)) child_.Kill();
    if (!stopping) Note("the media process ended unexpectedly, exit code " + std::to_string(child_.ExitCode()));
    {
        std::lock_guard<std::mutex> guard(mutex_);
        childAlive_ = false;
        listening_ = false;
    }
    log_.AllConnectionsClosed();
    changed_.notify_all();
}

void RtspServer::HandleReport(const std::string& text) {
    auto line = ControlLine::Parse(text);
    if (!line) {
        Note("unreadable report from the media process: " + text);
        return;
    }
    const std::string& verb = line->Verb();
    if (verb == "ok" || verb == "err") {
        auto id = line->GetNumber("id");
        if (!id) {
            Note("media process: " + line->Get("message"));
            return;
        }
        std::string late;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (auto it = abandoned_.find(*id); it != abandoned_.end()) {
                late = it->second;
                abandoned_.erase(it);
            } else {
                answers_[*id] = std::move(*line);
            }
        }
        if (!late.empty()) {
            Note("late answer to \"" + late + "\" from the media process: " + text);
            return;
        }
        changed_.notify_all();
    } else if (verb == "request") {
        RtspRequest request;
        request.connection = line->GetNumber("conn").value_or(0);
        request.method = line->Get("method");
        request.url = line->Get("url");
        request.cseq = line->Get("cseq");
        request.authorization = line->Get("authorization");
        request.transport = line->Get("transport");
        request.session = line->Get("session");
        request.userAgent = line->Get("agent");
        request.status = line->GetNumber("status").value_or(0);
        request.replySession = line->Get("reply-session");
        request.replyTransport = line->Get("reply-transport");
        log_.Add(std::move(request));
    } else if (verb == "open") {
        log_.ConnectionOpened(line->GetNumber("conn").value_or(0));
    } else if (verb == "close") {
        log_.ConnectionClosed(line->GetNumber("conn").value_or(0));
    } else if (verb == "hello") {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            greeted_ = true;
        }
        changed_.notify_all();
    } else {
        Note("unexpected report from the media process: " + text);
    }
}

std::optional<ControlLine> RtspServer::Command(ControlLine command) {
    uint64_t id;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!childAlive_) {
            lastError_ = "the media process is not running";
            return std::nullopt;
        }
        id = nextCommand_++;
    }
    command.Set("id", id);
    const std::string verb = command.Verb();
    if (!child_.Write(command.Format(), options_.commandTimeoutMs)) {
        SetError("cannot send \"" + verb + "\" to the media process");
        return std::nullopt;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    bool answered = changed_.wait_for(lock, std::chrono::milliseconds(options_.commandTimeoutMs),
                                      [&] { return answers_.count(id) != 0 || !childAlive_; });
    auto it = answers_.find(id);
    if (!answered || it == answers_.end()) {
        if (answered) {
            lastError_ = "the media process ended during \"" + verb + "\"";
        } else {
            lastError_ = "no answer to \"" + verb + "\" from the media process within " +
                         std::to_string(options_.commandTimeoutMs) + " ms";
            abandoned_[id] = verb;
        }
        return std::nullopt;
    }
    ControlLine answer = std::move(it->second);
    answers_.erase(it);
    if (answer.Verb() != "ok") {
        lastError_ = verb + ": " + answer.Get("message");
        return std::nullopt;
    }
    return answer;
}

bool RtspServer::Apply(ControlLine command) {
    auto answer = Command(std::move(command));
    if (answer && answer->Has("summary")) {
        std::lock_guard<std::mutex> guard(mutex_);
        replaySummary_ = answer->Get("summary");
    }
    return answer.has_value();
}

std::vector<ControlLine> RtspServer::ReplayCommands() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<ControlLine> commands;
    commands.push_back(AuthCommand(state_.auth, state_.user, state_.password, state_.realm));
    commands.push_back(ControlLine("timeout").Set("seconds", state_.sessionTimeout));
    commands.push_back(ControlLine("rtcp").Set("ms", state_.rtcpIntervalMs));
    commands.push_back(ControlLine("alarm").Set("bits", state_.alarmBits));
    commands.push_back(ControlLine("describe").Set("status", state_.describeRefusal));
    if (!state_.replayFile.empty()) commands.push_back(ControlLine("replay").Set("file", state_.replayFile));
    for (const auto& [path, config] : state_.streams) commands.push_back(StreamCommand(path, config));
    commands.push_back(RtpCommand(!state_.allRtpStopped, {}));
    for (const auto& path : state_.rtpStopped) commands.push_back(RtpCommand(false, path));
    return commands;
}

bool RtspServer::Running() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return childAlive_ && listening_;
}

std::string RtspServer::Url(const std::string& path, const std::string& user, const std::string& password) const {
    std::string credentials;
    if (!user.empty() || !password.empty()) credentials = user + ":" + password + "@";
    return "rtsp://" + credentials + "127.0.0.1:" + std::to_string(Port()) + path;
}

std::string RtspServer::LastError() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lastError_;
}

std::vector<std::string> RtspServer::Messages() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
}

void RtspServer::SetError(std::string error) {
    std::lock_guard<std::mutex> guard(mutex_);
    lastError_ = std::move(error);
}

void RtspServer::Note(std::string message) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (messages_.size() < 1000) messages_.push_back(std::move(message));
}

bool RtspServer::Change(const std::function<void(State&)>& update, ControlLine command) {
    std::lock_guard<std::mutex> control(control_);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        update(state_);
    }
    return !Running() || Apply(std::move(command));
}

bool RtspServer::SetStream(const std::string& path, const RtspStreamConfig& config) {
    if (!IsMountablePath(path)) {
        SetError("bad stream path \"" + path + "\"");
        return false;
    }
    if (std::string why = config.Validate(); !why.empty()) {
        SetError(path + ": " + why);
        return false;
    }
    return Change([&](State& state) { state.streams[path] = config; }, StreamCommand(path, config));
}

std::optional<RtspStreamConfig> RtspServer::Stream(const std::string& path) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = state_.streams.find(path);
    if (it == state_.streams.end()) return std::nullopt;
    return it->second;
}

bool RtspServer::SetAuth(Auth mode, const std::string& user, const std::string& password, const std::string& realm) {
    if (mode != Auth::None && user.empty()) {
        SetError("authentication needs a user name");
        return false;
    }
    return Change(
        [&](State& state) {
            state.auth = mode;
            state.user = user;
            state.password = password;
            state.realm = realm;
        },
        AuthCommand(mode, user, password, realm));
}

bool RtspServer::SetSendingRtp(bool on, const std::string& path) {
    if (!path.empty() && !IsMountablePath(path)) {
        SetError("bad stream path \"" + path + "\"");
        return false;
    }
    return Change(
        [&](State& state) {
            if (path.empty()) {
                state.allRtpStopped = !on;
                state.rtpStopped.clear();
            } else if (on) {
                state.rtpStopped.erase(path);
            } else {
                state.rtpStopped.insert(path);
            }
        },
        RtpCommand(on, path));
}

bool RtspServer::SetDescribeRefused(bool refused, unsigned status) {
    if (refused && (status < 300 || status > 599)) {
        SetError("a refusal needs a status from 300 to 599");
        return false;
    }
    const unsigned value = refused ? status : 0;
    return Change([&](State& state) { state.describeRefusal = value; }, ControlLine("describe").Set("status", value));
}

bool RtspServer::SetSessionTimeout(unsigned seconds) {
    if (seconds < 1 || seconds > 3600) {
        SetError("session time-out must be 1 to 3600 s");
        return false;
    }
    return Change([&](State& state) { state.sessionTimeout = seconds; },
                  ControlLine("timeout").Set("seconds", seconds));
}

bool RtspServer::SetRtcpInterval(unsigned ms) {
    if (ms < 100 || ms > 60000) {
        SetError("RTCP interval must be 100 to 60000 ms");
        return false;
    }
    return Change([&](State& state) { state.rtcpIntervalMs = ms; }, ControlLine("rtcp").Set("ms", ms));
}

bool RtspServer::SetAlarmBits(uint8_t bits) {
    return Change([&](State& state) { state.alarmBits = bits; }, ControlLine("alarm").Set("bits", unsigned{bits}));
}

bool RtspServer::SetReplay(const std::string& file) {
    return Change([&](State& state) { state.replayFile = file; }, ControlLine("replay").Set("file", file));
}

std::string RtspServer::ReplaySummary() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return replaySummary_;
}

bool RtspServer::DropConnections() {
    std::lock_guard<std::mutex> control(control_);
    if (!Running()) {
        SetError("the server is not running");
        return false;
    }
    return Apply(ControlLine("drop"));
}

bool RtspServer::SendGarbage(const std::string& bytes) {
    std::lock_guard<std::mutex> control(control_);
    if (!Running()) {
        SetError("the server is not running");
        return false;
    }
    return Apply(ControlLine("garbage").Set("bytes", bytes));
}

}  // namespace dravnel::sim
