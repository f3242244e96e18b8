#include "channel/CBaseCameraChannel.h"

#include <algorithm>
#include <exception>

#include "platform/Process.h"
#include "web/HUtils.h"

namespace dravnel {
namespace {

constexpr const char* kSetCameraState = "dravnel::CBaseCameraChannel::SetCameraState";
constexpr const char* kStopThread = "dravnel::CBaseCameraChannel::StopThread";

const DEVICE_INFO& DeviceOf(IDriver* driver) {
    static const DEVICE_INFO none;
    const DEVICE_INFO* info = driver ? driver->GetDeviceInfo() : nullptr;
    return info ? *info : none;
}

// Holds a CLock taken with TryLock, if it was taken.
class TryLockGuard {
public:
    explicit TryLockGuard(CLock& lock) : lock_(lock), held_(lock.TryLock()) {}
    ~TryLockGuard() {
        if (held_) lock_.Unlock();
    }
    TryLockGuard(const TryLockGuard&) = delete;
    TryLockGuard& operator=(const TryLockGuard&) = delete;
    bool Held() const { return held_; }

private:
    CLock& lock_;
    bool held_;
};

}  // namespace

CBaseCameraChannel::CBaseCameraChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink)
    : channel_(channel), driver_(driver), hostSink_(hostSink) {}

CBaseCameraChannel::~CBaseCameraChannel() { Stop(); }

bool CBaseCameraChannel::Start(const ChannelParams& params) {
    Stop();
    SetParams(params);
    return StartCaptureThread();
}

void CBaseCameraChannel::SetParams(const ChannelParams& params) {
    CScopedLock guard(paramsLock_);
    params_ = params;
}

void CBaseCameraChannel::Stop() {
    {
        // Once stopping, a frame still in delivery must not bring the camera
        // back online (and log it) behind the offline message.
        CScopedLock guard(frameLock_);
        stopEvent_.Set();
        // The state goes first, so that the offline message reads "Channel was stopped".
        SetChannelState(kChannelStopped);
        SetCameraState(false);
    }
    StopCaptureThread();
}

bool CBaseCameraChannel::UpdateParams(const ChannelParams& params) {
    {
        CScopedLock guard(paramsLock_);
        params_.FrameInterval = params.FrameInterval;
        params_.Width = params.Width;
        params_.Height = params.Height;
    }
    updateEvent_.Set();
    return true;
}

ChannelParams CBaseCameraChannel::GetParams() {
    CScopedLock guard(paramsLock_);
    return params_;
}

int CBaseCameraChannel::GetChannelState() {
    CScopedLock guard(stateLock_);
    return state_;
}

void CBaseCameraChannel::SetChannelState(int state) {
    CScopedLock guard(stateLock_);
    state_ = state;
}

std::string CBaseCameraChannel::CameraName(bool lowerFirst) const {
    const std::string& address = DeviceOf(driver_).Address;
    if (driver_ && driver_->GetChannelCount() > 1) {
        return HUtils::Format(lowerFirst ? "video-server %s (channel %u)" : "Video-server %s (channel %u)",
                              address.c_str(), channel_);
    }
    return (lowerFirst ? "camera " : "Camera ") + address;
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // The exchange makes each change of the flag log exactly once, whichever
    // threads race to report it.
    if (cameraOnline_.exchange(online) == online || !driver_) return;
    if (online) {
        driver_->DebugMessage(kLevelInfo, "%s: %s is online", kSetCameraState, CameraName(false).c_str());
        return;
    }
    switch (GetChannelState()) {
    case kChannelSignalLost:
        driver_->DebugMessage(kLevelError, "%s: Signal was lost for %s", kSetCameraState, CameraName(true).c_str());
        break;
    case kChannelStopped:
        driver_->DebugMessage(kLevelInfo, "%s: %s is offline. Channel was stopped", kSetCameraState,
                              CameraName(false).c_str());
        break;
    default:
        driver_->DebugMessage(kLevelError, "%s: %s is offline or failed", kSetCameraState, CameraName(false).c_str());
        break;
    }
}

void CBaseCameraChannel::OnFrameAccepted() {
    CScopedLock guard(frameLock_);
    if (stopEvent_.IsSet()) return;
    lastFrame_.SetNow();
    SetCameraState(true);
}

bool CBaseCameraChannel::IsCaptureThread() const {
    const uint32_t id = captureThread_.Id();
    return id != 0 && id == platform::CurrentThreadId();
}

bool CBaseCameraChannel::StartCaptureThread() {
    // Spin only: a stop in progress on another thread holds the lock while it
    // waits for the old thread, and a start must not queue behind it.
    TryLockGuard guard(threadLock_);
    if (!guard.Held() || captureThread_.Held()) return false;
    stopEvent_.Reset();
    return captureThread_.Start([this] { RunGuarded(); });
}

void CBaseCameraChannel::RunGuarded() {
    // An exception leaving a thread ends the whole host process; here it ends
    // only this channel's capture, with a message.
    try {
        Run();
    } catch (const std::exception& error) {
        ReportCaptureFailure(error.what());
    } catch (...) {
        ReportCaptureFailure("unknown exception");
    }
}

void CBaseCameraChannel::ReportCaptureFailure(const char* what) {
    SetChannelState(kChannelStopped);
    try {
        StopStreaming();
    } catch (...) {
        // Nothing more can be released.
    }
    if (driver_) {
        driver_->DebugMessage(kLevelError, "%s: Video capture of %s ended by an error: %s",
                              "dravnel::CBaseCameraChannel::Run", CameraName(true).c_str(), what);
    }
    SetCameraState(false);
}

void CBaseCameraChannel::StopCaptureThread() {
    stopEvent_.Set();
    // On the capture thread itself (a hook stopping its own channel) there is
    // nothing to wait for: the loop sees the stop event and ends. The thread
    // lock is not taken, since a host thread may hold it while it waits for
    // this very thread.
    if (IsCaptureThread()) {
        OnStopThread();
        return;
    }
    CScopedLock guard(threadLock_);
    if (!captureThread_.Held()) return;
    OnStopThread();
    const uint64_t limit = 2ull * DeviceOf(driver_).HttpTimeout;
    const uint32_t waitMs = static_cast<uint32_t>(std::min<uint64_t>(limit, platform::kInfinite - 1));
    if (!captureThread_.WaitFinished(waitMs)) {
        // The message keeps its traditional wording; a thread is never killed
        // here (its locks and sockets would be lost), so the wait goes on.
        if (driver_) {
            driver_->DebugMessage(kLevelWarning,
                                  "%s: Video capture thread for %s cannot be stopped and will be "
                                  "terminated now",
                                  kStopThread, CameraName(true).c_str());
        }
        captureThread_.WaitFinished(platform::kInfinite);
    }
    captureThread_.Join();
}

uint32_t CBaseCameraChannel::RunCaptureLoop() {
    lastFrame_.SetNow();
    bool restart = false;
    platform::Event* stopOrUpdate[2] = {stopEvent_.Handle(), updateEvent_.Handle()};
    platform::Event* stopOrStarted[2] = {stopEvent_.Handle(), streamStarted_.Handle()};

    for (;;) {
        const DEVICE_INFO& device = DeviceOf(driver_);
        if (GetChannelState() == kChannelStreaming && !restart) {
            if (periodicTimer_.ElapsedMs() > periodicIntervalMs_) {
                OnPeriodic();
                periodicTimer_.SetNow();
            }
        } else {
            restart = false;
            SetChannelState(kChannelStopped);
            StopStreaming();
            streamStarted_.Reset();
            const bool prepared = PrepareStream();
            if (prepared && StartStreaming()) {
                const int got =
                    platform::WaitAny(std::span<platform::Event* const>(stopOrStarted, 2), device.HttpTimeout);
                if (got == 1)
                    SetChannelState(kChannelStreaming);
                else if (got == platform::kWaitTimeout)
                    ReportNoVideo(NoVideoStage::FirstFrame);
            } else {
                if (!StopRequested()) ReportNoVideo(prepared ? NoVideoStage::Start : NoVideoStage::Prepare);
                SetChannelState(kChannelStopped);
                StopStreaming();
            }
        }

        const bool stopped = stopEvent_.Wait(loopWaitMs_);
        const int woken = platform::WaitAny(std::span<platform::Event* const>(stopOrUpdate, 2), loopWaitMs_);
        if (woken == 0 || woken == platform::kWaitFailed) break;
        if (woken == 1) {
            if (!ApplyUpdate()) restart = true;
        } else {
            const uint32_t silentMs = lastFrame_.ElapsedMs();
            if (silentMs >= device.StreamTimeout / 2) {
                SetChannelState(kChannelSignalLost);
                if (silentMs >= device.StreamTimeout) {
                    if (hostSink_) hostSink_->OnStreamSilent();
                    SetCameraState(false);
                }
            }
        }
        if (stopped) break;
    }

    SetChannelState(kChannelStopped);
    StopStreaming();
    SetCameraState(false);
    return 0;
}

}  // namespace dravnel
