// One video stream of one channel of the device: its capture thread, its
// channel state (streaming, signal lost, stopped) and the camera's online flag,
// whose every change is logged.
//
// The capture loop (RunCaptureLoop) connects through five hooks the stream
// channels implement, watches the stream for silence and reconnects:
//
//   pass:  streaming?  -- yes --> OnPeriodic every periodic interval
//            | no
//            v
//          StopStreaming, PrepareStream, StartStreaming, wait for the first frame
//          wait loopWaitMs on stop; wait loopWaitMs on stop or update:
//            update  -> ApplyUpdate (false: reconnect)
//            timeout -> silence >= StreamTimeout/2: signal lost (reconnect)
//                       silence >= StreamTimeout:   OnStreamSilent, camera offline
//
// Thread-safety: Start, Stop and UpdateParams come from the host's threads;
// the loop and the hooks run on the capture thread; OnFrameAccepted,
// SignalStreamStarted and SetCameraState also come from the receiver threads.
// The channel state is guarded by the state lock, the parameters are copied
// whole under their own lock, the online flag is atomic, thread creation and
// stop are serialised by the thread lock. Stop may be called from a hook on
// the capture thread: it then asks the loop to end and does not wait.
//
// A derived class whose hooks use its own members must call Stop() in its own
// destructor, before those members go.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Thread.h"
#include "quarnel/CaptureDriver.h"
#include "quarnel/VideoCapture.h"
#include "threads/CEvent.h"
#include "threads/CLock.h"
#include "threads/CTime.h"

namespace dravnel {

class CBaseCameraChannel : public ICameraChannel {
public:
    // driver and hostSink are borrowed and outlive the channel; hostSink may be
    // null (frames then count as refused).
    CBaseCameraChannel(unsigned channel, IDriver* driver, ipcapture::IHostChannelSink* hostSink);
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    // Restarts a running channel; true when a capture thread was started.
    bool Start(const ChannelParams& params) override;
    void Stop() override;
    // Takes frame interval and size, keeps the mode word, wakes the loop.
    bool UpdateParams(const ChannelParams& params) override;
    int GetChannelState() override;

    // The capture thread's body.
    virtual uint32_t Run() = 0;
    // Called before the capture thread is waited for, on the stopping thread
    // (which may be the capture thread itself): unblock what the loop waits in.
    virtual void OnStopThread() {}

    void SetChannelState(int state);
    void SetCameraState(bool online);
    bool IsCameraOnline() const { return cameraOnline_.load(); }

    ChannelParams GetParams();
    unsigned ChannelNumber() const { return channel_; }
    // "Camera 10.0.0.5", or "Video-server 10.0.0.5 (channel 1)" on a device
    // with several channels; lowerFirst gives "camera ..." / "video-server ...".
    std::string CameraName(bool lowerFirst) const;

protected:
    // All four values at once, as Start takes them.
    void SetParams(const ChannelParams& params);

    // The capture loop; Run() of the stream channel returns its result.
    uint32_t RunCaptureLoop();

    // Hooks of the loop, on the capture thread.
    virtual bool StartStreaming() = 0;
    virtual void StopStreaming() = 0;
    virtual bool PrepareStream() = 0;
    virtual bool ApplyUpdate() = 0;
    virtual void OnPeriodic() {}
    // A connect pass that brought no video: its stream could not be prepared
    // or started, or no frame came within the wait for the first one. The
    // stream channel says why (not while stopping).
    enum class NoVideoStage { Prepare, Start, FirstFrame };
    virtual void ReportNoVideo(NoVideoStage) {}

    // The first frame of a session ends the loop's wait for it.
    void SignalStreamStarted() { streamStarted_.Set(); }
    // A frame the host accepted: activity for the silence watch, camera online.
    void OnFrameAccepted();

    bool StartCaptureThread();
    void StopCaptureThread();

    IDriver* Driver() const { return driver_; }
    ipcapture::IHostChannelSink* HostSink() const { return hostSink_; }
    bool StopRequested() const { return stopEvent_.IsSet(); }

    CManualEvent stopEvent_;

    // The loop's fixed timings; tests shrink them.
    uint32_t loopWaitMs_ = 1000;
    uint32_t periodicIntervalMs_ = 30000;

private:
    bool IsCaptureThread() const;
    void RunGuarded();
    void ReportCaptureFailure(const char* what);

    std::atomic<bool> cameraOnline_{false};

    CLock stateLock_;
    int state_ = kChannelStopped;

    CLock threadLock_;
    platform::Thread captureThread_;

    const unsigned channel_;
    IDriver* const driver_;
    ipcapture::IHostChannelSink* const hostSink_;

    CLock paramsLock_;
    ChannelParams params_;

    CLock frameLock_;  // orders a frame's online report against Stop
    CTime lastFrame_;
    CEvent updateEvent_;
    CManualEvent streamStarted_;
    CTime periodicTimer_;
};

}  // namespace dravnel
