#include "sim/rtsp/TimestampRestorer.h"

#include <memory>
#include <optional>

namespace dravnel::sim {

namespace {

using Shared = std::shared_ptr<TimestampRestorer>;

void FreeShared(gpointer data) { delete static_cast<Shared*>(data); }

// The pad's current segment when it is in time format.
std::optional<GstSegment> TimeSegment(GstPad* pad) {
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return std::nullopt;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    std::optional<GstSegment> copy;
    if (segment && segment->format == GST_FORMAT_TIME) copy = *segment;
    gst_event_unref(event);
    return copy;
}

}  // namespace

void TimestampRestorer::Attach(GstElement* encoder) {
    GstPad* sink = gst_element_get_static_pad(encoder, "sink");
    GstPad* src = gst_element_get_static_pad(encoder, "src");
    if (sink && src) {
        auto restorer = std::make_shared<TimestampRestorer>();
        gst_pad_add_probe(sink,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                          OnInput, new Shared(restorer), FreeShared);
        gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, OnOutput, new Shared(restorer), FreeShared);
    }
    if (sink) gst_object_unref(sink);
    if (src) gst_object_unref(src);
}

// Time stamps travel as running time: the encoder's output segment need not
// match its input one (GstVideoEncoder moves it 1000 hours ahead).
GstClockTime TimestampRestorer::RunningTime(GstPad* pad, GstClockTime pts) {
    const auto segment = TimeSegment(pad);
    return segment ? gst_segment_to_running_time(&*segment, GST_FORMAT_TIME, pts) : GST_CLOCK_TIME_NONE;
}

GstClockTime TimestampRestorer::Position(GstPad* pad, GstClockTime runningTime) {
    const auto segment = TimeSegment(pad);
    return segment ? gst_segment_position_from_running_time(&*segment, GST_FORMAT_TIME, runningTime)
                   : GST_CLOCK_TIME_NONE;
}

GstPadProbeReturn TimestampRestorer::OnInput(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
    TimestampRestorer& me = **static_cast<Shared*>(self);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstClockTime runningTime = RunningTime(pad, GST_BUFFER_PTS(buffer));
        std::lock_guard<std::mutex> guard(me.mutex_);
        me.pending_.push_back(runningTime);
        if (me.pending_.size() > kMaxPending) me.pending_.pop_front();
    } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
               event && GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
        std::lock_guard<std::mutex> guard(me.mutex_);
        me.pending_.clear();
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn TimestampRestorer::OnOutput(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
    TimestampRestorer& me = **static_cast<Shared*>(self);
    GstClockTime runningTime;
    {
        std::lock_guard<std::mutex> guard(me.mutex_);
        if (me.pending_.empty()) return GST_PAD_PROBE_OK;
        runningTime = me.pending_.front();
        me.pending_.pop_front();
    }
    GstClockTime pts = GST_CLOCK_TIME_IS_VALID(runningTime) ? Position(pad, runningTime) : GST_CLOCK_TIME_NONE;
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return GST_PAD_PROBE_OK;
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = pts;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

}  // namespace dravnel::sim
