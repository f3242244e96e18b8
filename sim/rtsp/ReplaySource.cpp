#include "sim/rtsp/ReplaySource.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>

namespace dravnel::sim {

namespace {

// Behind by more: start afresh. A source held back (a media prepared at
// DESCRIBE waits for PLAY) or starved of the processor then goes on at the
// camera's pace instead of sending what it missed in one burst.
constexpr gint64 kResyncUs = 200000;

struct Playback {
    std::shared_ptr<const RtpRecording> recording;
    uint32_t ssrc = 0;
    uint16_t nextSeq = 0;
    uint32_t firstTimestamp = 0;
    uint32_t pass = 0;
    size_t frame = 0;
    gint64 dueUs = 0;  // monotonic time the next frame leaves; 0: at once
    uint64_t framesSent = 0;
    uint64_t packetsSent = 0;
    gint64 firstSentUs = 0;
    gint64 lastSentUs = 0;

    // What the session got, for a benchmark to hold against what its client
    // delivered.
    ~Playback() {
        g_printerr("quarnel-sim-rtsp: replay ssrc=%08x sent %llu frames, %llu packets in %.2f s\n", ssrc,
                   static_cast<unsigned long long>(framesSent), static_cast<unsigned long long>(packetsSent),
                   static_cast<double>(lastSentUs - firstSentUs) / 1e6);
    }
};

uint32_t Random32() { return g_random_int(); }

GstCaps* CapsOf(const RtpRecording& recording, const Playback& playback) {
    const char* name = recording.codec == RtspCodec::H264    ? "H264"
                       : recording.codec == RtspCodec::MPEG4 ? "MP4V-ES"
                                                             : "JPEG";
    GstCaps* caps = gst_caps_new_simple(
        "application/x-rtp", "media", G_TYPE_STRING, "video", "clock-rate", G_TYPE_INT,
        static_cast<gint>(RtpRecording::kClockRate), "encoding-name", G_TYPE_STRING, name, "payload", G_TYPE_INT,
        static_cast<gint>(recording.payloadType), "ssrc", G_TYPE_UINT, playback.ssrc, "seqnum-offset", G_TYPE_UINT,
        static_cast<guint>(playback.nextSeq), "timestamp-offset", G_TYPE_UINT, playback.firstTimestamp, nullptr);
    for (const auto& [key, value] : recording.parameters)
        gst_caps_set_simple(caps, key.c_str(), G_TYPE_STRING, value.c_str(), nullptr);
    return caps;
}

// The running time of the element now: what a live source stamps.
GstClockTime RunningTimeNow(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return GST_CLOCK_TIME_NONE;
    const GstClockTime now = gst_clock_get_time(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    gst_object_unref(clock);
    return now > base ? now - base : 0;
}

GstBufferList* FrameBuffers(Playback& playback, GstClockTime pts) {
    const RtpRecording& recording = *playback.recording;
    const RtpRecording::Frame& frame = recording.frames[playback.frame];
    const uint32_t timestamp = playback.firstTimestamp + playback.pass * recording.loopTicks + frame.ticksFromStart;
    GstBufferList* list = gst_buffer_list_new_sized(static_cast<guint>(frame.packetCount));
    for (size_t i = 0; i < frame.packetCount; ++i) {
        std::span<const uint8_t> packet = recording.PacketBytes(frame.firstPacket + i);
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, packet.size(), nullptr);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            std::copy(packet.begin(), packet.end(), map.data);
            const uint16_t seq = playback.nextSeq++;
            const uint8_t header[10] = {static_cast<uint8_t>(seq >> 8),
                                        static_cast<uint8_t>(seq),
                                        static_cast<uint8_t>(timestamp >> 24),
                                        static_cast<uint8_t>(timestamp >> 16),
                                        static_cast<uint8_t>(timestamp >> 8),
                                        static_cast<uint8_t>(timestamp),
                                        static_cast<uint8_t>(playback.ssrc >> 24),
                                        static_cast<uint8_t>(playback.ssrc >> 16),
                                        static_cast<uint8_t>(playback.ssrc >> 8),
                                        static_cast<uint8_t>(playback.ssrc)};
            std::copy(std::begin(header), std::end(header), map.data + 2);
            gst_buffer_unmap(buffer, &map);
        }
        GST_BUFFER_PTS(buffer) = pts;
        gst_buffer_list_add(list, buffer);
    }
    ++playback.framesSent;
    playback.packetsSent += frame.packetCount;
    if (++playback.frame == recording.frames.size()) {
        playback.frame = 0;
        ++playback.pass;
    }
    return list;
}

void OnNeedData(GstAppSrc* source, guint, gpointer data) {
    auto& playback = *static_cast<Playback*>(data);
    const RtpRecording& recording = *playback.recording;
    gint64 now = g_get_monotonic_time();
    if (playback.dueUs == 0 || now - playback.dueUs > kResyncUs) playback.dueUs = now;
    if (playback.dueUs > now) {
        g_usleep(static_cast<gulong>(playback.dueUs - now));  // at most one gap, two seconds
    }
    if (playback.framesSent == 0) playback.firstSentUs = now;
    playback.lastSentUs = std::max(now, playback.dueUs);
    const uint32_t ticks = recording.frames[playback.frame].ticksToNext;
    GstBufferList* list = FrameBuffers(playback, RunningTimeNow(GST_ELEMENT(source)));
    playback.dueUs += static_cast<gint64>(ticks) * 1000000 / RtpRecording::kClockRate;
    gst_app_src_push_buffer_list(source, list);  // takes the list
}

}  // namespace

void ReplaySource::Attach(GstElement* bin, std::shared_ptr<const RtpRecording> recording) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(bin), "pay0");
    if (!element) return;
    if (!GST_IS_APP_SRC(element) || !recording || recording->frames.empty()) {
        gst_object_unref(element);
        return;
    }
    auto* playback = new Playback;
    playback->recording = std::move(recording);
    playback->ssrc = Random32();
    playback->nextSeq = static_cast<uint16_t>(Random32());
    playback->firstTimestamp = Random32();

    GstAppSrc* source = GST_APP_SRC(element);
    GstCaps* caps = CapsOf(*playback->recording, *playback);
    gst_app_src_set_caps(source, caps);
    gst_caps_unref(caps);
    g_object_set(element, "is-live", TRUE, "format", GST_FORMAT_TIME, "min-latency", gint64{0}, nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = OnNeedData;
    gst_app_src_set_callbacks(source, &callbacks, playback, [](gpointer data) { delete static_cast<Playback*>(data); });
    gst_object_unref(element);
}

}  // namespace dravnel::sim
