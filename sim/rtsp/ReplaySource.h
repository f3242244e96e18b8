// Plays a recording (RtpRecording) into an RTSP media, as a camera sends its
// stream: the media bin holds only an appsrc named "pay0" whose buffers are
// the recorded RTP packets, so nothing is encoded or payloaded again.
//
// Each media (the factory is not shared, so each RTSP session) gets its own
// SSRC, first sequence number and first time stamp, drawn at random; the
// appsrc's caps carry them with the SDP parameters, so the SDP, the SSRC of
// the SETUP answer and the RTP-Info of PLAY agree with the packets. Every
// packet is rewritten on the way: the sequence numbers count on without a
// gap across the loops, the time stamps rise by the recording's own steps.
//
//   recorded frame f of pass k  ->  timestamp = first + k * loopTicks + ticksFromStart(f)
//   the n-th packet sent        ->  sequence  = firstSeq + n
//
// Pacing: the appsrc asks for data on its own streaming thread; the source
// waits there until the frame is due and hands over the whole frame as one
// buffer list, which rtpbin and the sink send in one burst. Frames are due
// by the monotonic clock at the gaps of their time stamps; a source that
// falls more than 200 ms behind starts afresh rather than sending what it
// missed at once. When a media goes, its source writes on standard error
// how many frames and packets it sent ("replay ssrc=... sent N frames, M
// packets in S s"), which the whole-process benchmark counts.
//
// Thread-safety: Attach runs on the media's configuring thread; the need-data
// callback on the appsrc's streaming thread, the only one that touches the
// per-media state afterwards.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <string>

#include "sim/rtsp/RtpRecording.h"

namespace dravnel::sim {

class ReplaySource {
public:
    // The media bin's launch description.
    static std::string LaunchDescription() { return "( appsrc name=pay0 )"; }
    // Configures the "pay0" appsrc of a media's bin to play the recording.
    static void Attach(GstElement* bin, std::shared_ptr<const RtpRecording> recording);
};

}  // namespace dravnel::sim
