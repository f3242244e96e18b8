// Gives the buffers leaving an encoder the time stamps of the frames that went
// in. For encoders that emit exactly one buffer per input frame, in input
// order, but lose the time stamps on the way (avenc_mpeg4 of GStreamer 1.22
// built with FFmpeg 5 stamps every buffer 2^63 ns: the RTP time stamp then
// never advances and synchronising sinks wait for that time forever).
//
// Thread-safety: the two probes may run on different streaming threads; the
// queue between them is locked.
#pragma once

#include <gst/gst.h>

#include <deque>
#include <mutex>

namespace dravnel::sim {

class TimestampRestorer {
public:
    // Installs the probes; they own the restorer and free it with the pads.
    static void Attach(GstElement* encoder);

private:
    static GstPadProbeReturn OnInput(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn OnOutput(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstClockTime RunningTime(GstPad* pad, GstClockTime pts);
    static GstClockTime Position(GstPad* pad, GstClockTime runningTime);

    // Frames the encoder holds at most before something is wrong.
    static constexpr size_t kMaxPending = 64;

    std::mutex mutex_;
    std::deque<GstClockTime> pending_;  // running times of the frames inside
};

}  // namespace dravnel::sim
