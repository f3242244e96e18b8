#include "rtsp/CBaseRTSPClient.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>
#include <random>

#include "platform/Clock.h"
#include "rtsp/CRTSPStreamParser.h"
#include "rtsp/RTSPAuthorization.h"
#include "rtsp/RTSPReplyFraming.h"
#include "web/HUtils.h"

namespace dravnel {

namespace {

constexpr uint32_t kConnectRoundMs = 100;
// Once stopping, the longest silence of one read.
constexpr uint32_t kStoppingReadWaitMs = 100;
constexpr size_t kMaxUnanswered = 8;
constexpr size_t kReplyChunk = 2048;
constexpr size_t kInterleavedBlock = 8192;

// 16 hexadecimal digits from the system's random source (RFC 7616 asks the
// cnonce to be unpredictable).
std::string NewClientNonce() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", static_cast<unsigned>(random()), static_cast<unsigned>(random()));
    return text;
}

// Signed distance from now to a MonotonicMs deadline, wrap-around safe.
int32_t MsUntil(uint32_t deadlineMs) { return static_cast<int32_t>(deadlineMs - platform::MonotonicMs()); }

constexpr const char* kVersion = "RTSP/1.0\r\n";
constexpr const char* kUserAgent = "User-Agent: Dravnel\r\n";
constexpr const char* kRange = "Range: npt=0.000-\r\n";

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* logger) : CBaseThread(logger), now_(platform::SystemTimeAsFileTime) {}

CBaseRTSPClient::~CBaseRTSPClient() { StopClient(); }

void CBaseRTSPClient::SetClock(std::function<uint64_t()> fileTimeNow, uint32_t keepAliveCheckMs) {
    now_ = std::move(fileTimeNow);
    keepAliveCheckMs_ = keepAliveCheckMs;
}

void CBaseRTSPClient::SetStopReadBound(uint32_t ms, size_t bytes) {
    stopReadMs_ = ms;
    stopReadBytes_ = bytes;
}

bool CBaseRTSPClient::StartClient(const RTSPConnectionSettings& settings, IRTPReceiverUser* user,
                                  RTSPTransportMode mode, CEvent* abort) {
    StopClient();
    response_.Clear();
    settings_ = settings;
    user_ = user;
    mode_ = mode;
    pending_.clear();
    interleavedPlaying_ = false;
    sentCSeq_ = 0;
    unanswered_.clear();
    countedNonce_.clear();
    nonceCount_ = 0;
    stopReadStarted_ = false;
    {
        std::lock_guard<std::mutex> guard(failureMutex_);
        failure_.reset();
    }
    if (!Connect(abort) || !StartThread("RTSP Client Thread")) {
        StopClient();
        return false;
    }
    return true;
}

void CBaseRTSPClient::StopClient() {
    StopThread(2 * std::max(settings_.receiveTimeoutMs, settings_.sendTimeoutMs) + 1000);
    socket_.Close();
    lastKeepAlive_ = 0;
    user_ = nullptr;
}

bool CBaseRTSPClient::Connect(CEvent* abort) {
    if (!socket_.Create(platform::Socket::Kind::Tcp) ||
        !socket_.SetReceiveBuffer(static_cast<int>(std::min<uint32_t>(settings_.receiveBufferBytes, 1u << 30))) ||
        !socket_.SetReceiveTimeout(settings_.receiveTimeoutMs) || !socket_.SetSendTimeout(settings_.sendTimeoutMs)) {
        socket_.Close();
        return false;
    }
    const auto address = platform::ResolveIPv4(settings_.host);
    if (!address || !socket_.Connect(*address, settings_.serverPort, settings_.connectTimeoutMs / kConnectRoundMs,
                                     kConnectRoundMs, abort ? abort->Handle() : nullptr)) {
        socket_.Close();
        return false;
    }
    return true;
}

std::optional<CBaseRTSPClient::Failure> CBaseRTSPClient::LastFailure() const {
    std::lock_guard<std::mutex> guard(failureMutex_);
    return failure_;
}

void CBaseRTSPClient::NoteFailure(RTSPMethod method) {
    if (StopRequested()) return;
    std::lock_guard<std::mutex> guard(failureMutex_);
    failure_ = Failure{method, response_.statusCode};
}

uint32_t CBaseRTSPClient::Run() {
    if (!Request(RTSPMethod::Describe)) {
        NoteFailure(RTSPMethod::Describe);
        return 0;
    }
    if (user_) user_->OnSessionDescription(&response_.codecConfig);
    if (!Request(RTSPMethod::Setup)) {
        NoteFailure(RTSPMethod::Setup);
    } else if (!Request(RTSPMethod::Play)) {
        NoteFailure(RTSPMethod::Play);
    } else {
        while (!stopEvent_.Wait(keepAliveCheckMs_)) KeepAlive();
    }
    if (SendRequest(RTSPMethod::Teardown) && RetryWithNewScheme()) SendRequest(RTSPMethod::Teardown);
    return 0;
}

// A 401 naming another scheme than ours: take it for one more try.
bool CBaseRTSPClient::RetryWithNewScheme() {
    if (response_.statusCode != 401 || response_.authScheme == settings_.authScheme) return false;
    settings_.authScheme = response_.authScheme;
    return true;
}

bool CBaseRTSPClient::Request(RTSPMethod method) {
    if (StopRequested() && method != RTSPMethod::Teardown) return false;
    bool ok = SendRequest(method);
    // Interleaved, PLAY returns when the stream ends; its reply was judged there.
    if (method == RTSPMethod::Play && mode_ == RTSPTransportMode::Interleaved) return ok;
    if (ok && RetryWithNewScheme()) ok = SendRequest(method);
    return ok && response_.statusCode / 100 == 2;
}

bool CBaseRTSPClient::Send(RTSPMethod method) {
    if (!socket_.IsOpen()) return false;
    const std::string text = BuildRequest(method);
    sentCSeq_ = response_.cseq;
    response_.statusCode = 0;  // until a reply to this request says otherwise
    return !text.empty() && socket_.SendAll(text);
}

bool CBaseRTSPClient::SendRequest(RTSPMethod method) {
    if (!Send(method)) return false;
    if (method == RTSPMethod::Play && mode_ == RTSPTransportMode::Interleaved) {
        interleavedPlaying_ = true;
        return RunInterleaved();
    }
    std::string reply;
    if (!ReceiveResponse(reply) || reply.empty()) {
        NoteUnanswered(sentCSeq_);
        return false;
    }
    return response_.Parse(reply, method);
}

void CBaseRTSPClient::KeepAlive() {
    if (!KeepAliveDue()) return;
    Request(RTSPMethod::Options);  // a failed keep-alive is not an error
    lastKeepAlive_ = now_();
}

bool CBaseRTSPClient::KeepAliveDue() const {
    const uint64_t seconds =
        response_.sessionTimeoutSec ? response_.sessionTimeoutSec : settings_.defaultSessionTimeoutSec;
    const uint64_t now = now_();
    if (lastKeepAlive_ == 0 || now < lastKeepAlive_) return true;
    return (now - lastKeepAlive_) / platform::kFileTimePerMs > seconds * 1000 / 2;
}

platform::IoResult CBaseRTSPClient::ReceiveSome(std::span<uint8_t> buffer, uint32_t deadlineMs) {
    const bool stopping = StopRequested();
    int32_t left = MsUntil(deadlineMs);
    if (stopping) {
        if (!stopReadStarted_) {
            stopReadStarted_ = true;
            stopReadDeadline_ = platform::MonotonicMs() + stopReadMs_;
            stopReadLeft_ = stopReadBytes_;
        }
        left = std::min({left, MsUntil(stopReadDeadline_), static_cast<int32_t>(kStoppingReadWaitMs)});
        if (stopReadLeft_ == 0) return {platform::IoStatus::Timeout, 0};
        buffer = buffer.first(std::min(buffer.size(), stopReadLeft_));
    }
    if (left <= 0) return {platform::IoStatus::Timeout, 0};
    const platform::IoStatus ready =
        socket_.WaitReadable(static_cast<uint32_t>(left), stopping ? nullptr : stopEvent_.Handle());
    if (ready != platform::IoStatus::Ok) return {ready, 0};
    const platform::IoResult got = socket_.Receive(buffer);
    if (stopping && got) stopReadLeft_ -= got.bytes;
    return got;
}

bool CBaseRTSPClient::ReceiveResponse(std::string& reply) {
    reply.clear();
    return interleavedPlaying_ ? ReceiveInterleavedResponse(reply) : ReceivePlainResponse(reply);
}

void CBaseRTSPClient::NoteUnanswered(uint32_t cseq) {
    if (unanswered_.size() == kMaxUnanswered) unanswered_.erase(unanswered_.begin());
    unanswered_.push_back(cseq);
}

bool CBaseRTSPClient::IsLateReply(std::string_view reply) {
    const std::optional<uint32_t> cseq = ReplyCSeq(reply);
    if (!cseq || *cseq == sentCSeq_) return false;
    const auto late = std::find(unanswered_.begin(), unanswered_.end(), *cseq);
    if (late == unanswered_.end()) return false;
    unanswered_.erase(late);
    return true;
}

void CBaseRTSPClient::NoteShortReply(size_t arrived, size_t announced) {
    if (shortReplyLogged_ || !Logger()) return;
    shortReplyLogged_ = true;
    Logger()->DebugMessage(kLevelWarning,
                           "%s: A reply of %s:%u carried %zu of the %zu body bytes its Content-Length announced "
                           "within the receive time-out; what arrived is used",
                           "dravnel::CBaseRTSPClient::ReceiveResponse", settings_.host.c_str(),
                           static_cast<unsigned>(settings_.serverPort), arrived, announced);
}

// Junk between frames is said once, then on the 16th, 256th, ... block
// that holds some, with the bytes skipped since the last message.
void CBaseRTSPClient::NoteSkippedBytes(uint64_t bytes) {
    skippedBytes_ += bytes;
    ++skipEvents_;
    // 1, 16, 256, ...: a power of two whose exponent is a multiple of four.
    const bool due = (skipEvents_ & (skipEvents_ - 1)) == 0 && __builtin_ctzll(skipEvents_) % 4 == 0;
    if (!due || !Logger()) return;
    Logger()->DebugMessage(kLevelWarning,
                           "%s: %s:%u sent %llu bytes on the RTSP connection that were neither an interleaved frame "
                           "nor a reply (%llu times); they were skipped",
                           "dravnel::CBaseRTSPClient::RunInterleaved", settings_.host.c_str(),
                           static_cast<unsigned>(settings_.serverPort), static_cast<unsigned long long>(skippedBytes_),
                           static_cast<unsigned long long>(skipEvents_));
    skippedBytes_ = 0;
}

// The reply to the request just sent, within the receive time-out; replies
// that come late for earlier requests are passed over.
bool CBaseRTSPClient::ReceivePlainResponse(std::string& reply) {
    const uint32_t deadline = platform::MonotonicMs() + settings_.receiveTimeoutMs;
    do {
        if (!ReadReply(reply, deadline)) return false;
    } while (IsLateReply(reply));
    return true;
}

// Reads one reply: the header block to its empty line, then the announced
// body. Bytes read beyond it are kept for the next read. A reply above
// kMaxReplyBytes is refused and the connection shut, so that its rest is
// never taken for the next reply. At the deadline, a reply whose header block
// is complete is taken with as much of its body as arrived; a header block
// cut short stays pending (it may complete and prove late on the next read).
bool CBaseRTSPClient::ReadReply(std::string& reply, uint32_t deadlineMs) {
    std::string text = std::move(pending_);
    pending_.clear();
    size_t header = std::string::npos;
    size_t expected = std::string::npos;
    uint8_t chunk[kReplyChunk];
    for (;;) {
        if (expected == std::string::npos) {
            header = HeaderBlockLength(text);
            const size_t body = header == std::string::npos ? 0 : AnnouncedContentLength(text.substr(0, header));
            if ((header == std::string::npos && text.size() > kMaxReplyBytes) ||
                (header != std::string::npos && (header > kMaxReplyBytes || body > kMaxReplyBytes - header))) {
                socket_.Shutdown();
                return false;
            }
            if (header != std::string::npos) expected = header + body;
        }
        if (expected != std::string::npos && text.size() >= expected) {
            pending_ = text.substr(expected);
            text.resize(expected);
            reply = std::move(text);
            return true;
        }
        const size_t ask =
            expected == std::string::npos ? sizeof chunk : std::min(sizeof chunk, expected - text.size());
        const platform::IoResult got = ReceiveSome(std::span<uint8_t>(chunk, ask), deadlineMs);
        if (!got) {
            if (got.status == platform::IoStatus::Timeout && expected != std::string::npos) {
                NoteShortReply(text.size() - header, expected - header);
                reply = std::move(text);
                return true;
            }
            if (got.status == platform::IoStatus::Timeout || got.status == platform::IoStatus::Aborted)
                pending_ = std::move(text);
            return false;
        }
        text.append(reinterpret_cast<const char*>(chunk), got.bytes);
    }
}

// Bytes read past the last reply go to the stream first.
void CBaseRTSPClient::ParsePending(CRTSPStreamParser& stream) {
    const std::string early = std::move(pending_);
    pending_.clear();
    stream.Parse(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(early.data()), early.size()));
}

// After PLAY in interleaved mode replies come between RTP frames: the frames
// are passed over (the session is ending) and replies that come late for
// earlier requests are skipped.
bool CBaseRTSPClient::ReceiveInterleavedResponse(std::string& reply) {
    std::optional<std::string> answer;
    CRTSPStreamParser stream(nullptr, [&](std::string_view text, bool complete) {
        if (answer || IsLateReply(text)) return;
        answer = complete ? std::string(text) : std::string();
    });
    ParsePending(stream);
    const uint32_t deadline = platform::MonotonicMs() + settings_.receiveTimeoutMs;
    std::vector<uint8_t> block(kInterleavedBlock);
    while (!answer) {
        const platform::IoResult got = ReceiveSome(block, deadline);
        if (!got) return false;
        stream.Parse(std::span<const uint8_t>(block.data(), got.bytes));
    }
    reply = std::move(*answer);
    return !reply.empty();
}

// Runs on the session thread from PLAY until the stop event, the end of the
// connection, silence for the receive time-out, or a refused PLAY. Replies
// are matched to requests in order; OPTIONS goes out at half the session
// time-out and its reply is taken from the stream like the frames around it.
bool CBaseRTSPClient::RunInterleaved() {
    struct Due {
        RTSPMethod method;
        bool retried;
        uint32_t cseq;
    };
    std::deque<Due> due{{RTSPMethod::Play, false, sentCSeq_}};
    bool playRefused = false;

    // A reply answers the request its CSeq names; one without a CSeq, or
    // naming none that is due, answers the oldest.
    CRTSPStreamParser stream(user_, [&](std::string_view text, bool complete) {
        if (due.empty()) return;  // unsolicited
        const std::optional<uint32_t> cseq = ReplyCSeq(text);
        auto answered = std::find_if(due.begin(), due.end(), [&](const Due& d) { return cseq && d.cseq == *cseq; });
        if (answered == due.end()) answered = due.begin();
        const Due request = *answered;
        due.erase(answered);
        const bool ok = complete && response_.Parse(text, request.method);
        if (ok && !request.retried && RetryWithNewScheme()) {
            if (Send(request.method)) due.push_back({request.method, true, sentCSeq_});
            return;
        }
        if (request.method == RTSPMethod::Play && !(ok && response_.statusCode / 100 == 2)) playRefused = true;
    });
    const auto finish = [&](bool result) {
        for (const Due& d : due) NoteUnanswered(d.cseq);
        return result;
    };

    ParsePending(stream);

    std::vector<uint8_t> block(kInterleavedBlock);
    uint32_t lastDataMs = platform::MonotonicMs();
    for (;;) {
        const uint32_t wait = std::min(settings_.receiveTimeoutMs, keepAliveCheckMs_);
        const platform::IoStatus ready = socket_.WaitReadable(wait, stopEvent_.Handle());
        if (ready == platform::IoStatus::Aborted) return finish(true);
        if (ready == platform::IoStatus::Ok) {
            const platform::IoResult got = socket_.Receive(block);
            if (!got) return finish(false);
            stream.Parse(std::span<const uint8_t>(block.data(), got.bytes));
            if (const uint64_t skipped = stream.TakeSkipped()) NoteSkippedBytes(skipped);
            lastDataMs = platform::MonotonicMs();
        } else if (ready != platform::IoStatus::Timeout ||
                   platform::MonotonicMs() - lastDataMs >= settings_.receiveTimeoutMs) {
            return finish(false);
        }
        if (playRefused) return finish(false);
        if (KeepAliveDue() && !StopRequested()) {
            if (Send(RTSPMethod::Options)) due.push_back({RTSPMethod::Options, false, sentCSeq_});
            lastKeepAlive_ = now_();
        }
    }
}

std::string CBaseRTSPClient::BuildAuthorization(RTSPMethod method, const std::string& uri) {
    AuthorizationInputs inputs;
    inputs.scheme = settings_.authScheme;
    inputs.userName = settings_.userName;
    inputs.password = settings_.password;
    inputs.realm = response_.realm;
    inputs.nonce = response_.nonce;
    inputs.algorithm = response_.algorithm;
    inputs.qop = response_.qop;
    inputs.opaque = response_.opaque;
    if (inputs.scheme == AuthScheme::Digest && !inputs.qop.empty()) {
        if (countedNonce_ != inputs.nonce) {
            countedNonce_ = inputs.nonce;
            nonceCount_ = 0;
        }
        inputs.nonceCount = ++nonceCount_;
        inputs.cnonce = NewClientNonce();
    }
    return dravnel::BuildAuthorization(inputs, method, uri);
}

std::string CBaseRTSPClient::BaseUrl() const {
    if (response_.contentBase.find("rtsp://") != std::string::npos) return response_.contentBase;
    const size_t path = settings_.streamPath.find_first_not_of('/');
    return HUtils::Format("rtsp://%s:%u/", settings_.host.c_str(), static_cast<unsigned>(settings_.serverPort)) +
           (path == std::string::npos ? std::string() : settings_.streamPath.substr(path));
}

const MediaDescription* CBaseRTSPClient::SelectedMedia() const {
    const auto kind = static_cast<uint32_t>(settings_.media);
    return kind >= 1 && kind <= response_.media.size() ? &response_.media[kind - 1] : nullptr;
}

std::string CBaseRTSPClient::SetupUrl() const {
    const MediaDescription* media = SelectedMedia();
    const std::string control = media ? media->control : std::string();
    if (control.find("://") != std::string::npos) return control;
    std::string url = BaseUrl();
    if (control.empty()) return url;
    if (!url.empty() && url.back() == '/') url.pop_back();
    if (control.front() != '/') url += '/';
    return url + control;
}

std::string CBaseRTSPClient::TransportLine() const {
    const MediaDescription* media = SelectedMedia();
    const std::string sdpProtocol = media ? media->protocol : std::string();
    const std::string clientPort = HUtils::Format(";client_port=%u-%u", static_cast<unsigned>(settings_.clientRtpPort),
                                                  static_cast<unsigned>(settings_.clientRtcpPort));
    std::string protocol, parameters;
    switch (mode_) {
    case RTSPTransportMode::Udp:
        protocol = sdpProtocol.empty() ? "RTP/AVP/UDP" : sdpProtocol;
        parameters = clientPort;
        break;
    case RTSPTransportMode::Tcp:
        protocol = sdpProtocol.empty() ? "RTP/AVP/TCP" : sdpProtocol;
        parameters = clientPort;
        break;
    case RTSPTransportMode::Interleaved:
        protocol = "RTP/AVP/TCP;interleaved=0-1";
        break;
    default:
        protocol = sdpProtocol;
        break;
    }
    return "Transport: " + protocol + ";unicast" + parameters + "\r\n";
}

std::string CBaseRTSPClient::BuildRequest(RTSPMethod method) {
    const std::string url = BaseUrl();
    ++response_.cseq;
    const std::string cseq = HUtils::Format("CSeq: %u\r\n", response_.cseq);
    const std::string authorization = BuildAuthorization(method, url);
    const std::string session = response_.sessionId.empty() ? "" : "Session: " + response_.sessionId + "\r\n";
    switch (method) {
    case RTSPMethod::Describe:
        return "DESCRIBE " + url + " " + kVersion + cseq + authorization + kUserAgent + "Accept: application/sdp\r\n" +
               "\r\n";
    case RTSPMethod::Setup: {
        const std::string blocksize =
            settings_.blockSize > 100 ? HUtils::Format("Blocksize: %u\r\n", settings_.blockSize) : "";
        return "SETUP " + SetupUrl() + " " + kVersion + cseq + authorization + TransportLine() + kUserAgent +
               blocksize + "\r\n";
    }
    case RTSPMethod::Play:
        return "PLAY " + url + " " + kVersion + cseq + authorization + session + kRange + kUserAgent + "\r\n";
    case RTSPMethod::Teardown:
        return "TEARDOWN " + url + " " + kVersion + cseq + authorization + session + kUserAgent + "\r\n";
    case RTSPMethod::Options:
        return "OPTIONS " + url + " " + kVersion + cseq + authorization + session + kUserAgent + "\r\n";
    case RTSPMethod::Pause:
        return "PAUSE " + url + " " + kVersion + cseq + authorization + session + kRange + kUserAgent + "\r\n";
    }
    return {};
}

}  // namespace dravnel
