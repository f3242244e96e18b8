#include "sim/rtsp/MediaServer.h"

#include "sim/rtsp/ReplaySource.h"
#include "sim/rtsp/TimestampRestorer.h"

namespace dravnel::sim {

namespace {

constexpr const char* kRole = "camera-user";
constexpr const char* kConnectionKey = "quarnel-connection";

std::string Header(GstRTSPMessage* message, GstRTSPHeaderField field) {
    gchar* value = nullptr;
    if (message && gst_rtsp_message_get_header(message, field, &value, 0) == GST_RTSP_OK && value) return value;
    return {};
}

unsigned ConnectionId(GstRTSPClient* client) {
    return GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(client), kConnectionKey));
}

GstRTSPFilterResult RemoveSession(GstRTSPSessionPool*, GstRTSPSession*, gpointer) { return GST_RTSP_FILTER_REMOVE; }

// Ends a connection from whatever thread: both directions of its socket are
// shut, so the thread that serves it reads the end and closes the connection
// itself. Closed from another thread while that one read it, gst-rtsp-server
// would read a stream already gone (GIO criticals, a watch on a dead
// connection).
GstRTSPFilterResult ShutClient(GstRTSPServer*, GstRTSPClient* client, gpointer) {
    GstRTSPConnection* connection = gst_rtsp_client_get_connection(client);
    if (GSocket* socket = connection ? gst_rtsp_connection_get_read_socket(connection) : nullptr)
        g_socket_shutdown(socket, TRUE, TRUE, nullptr);
    return GST_RTSP_FILTER_KEEP;
}

}  // namespace

// Which path a factory, and the payloader of each of its media, belongs to.
struct MediaServer::ProbeContext {
    MediaServer* server;
    std::string path;
    bool alarmData = false;
    std::shared_ptr<const RtpRecording> replay;
};

MediaServer::MediaServer(Report report) : report_(std::move(report)) {
    server_ = gst_rtsp_server_new();
    mounts_ = gst_rtsp_server_get_mount_points(server_);
    g_signal_connect(server_, "client-connected", G_CALLBACK(OnClientConnected), this);

    // Sessions whose client stopped keeping them alive expire here.
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(server_);
    cleanup_ = gst_rtsp_session_pool_create_watch(pool);
    g_source_set_callback(cleanup_, G_SOURCE_FUNC(OnSessionCleanup), this, nullptr);
    g_source_attach(cleanup_, nullptr);
    g_object_unref(pool);
}

MediaServer::~MediaServer() {
    if (cleanup_) {
        g_source_destroy(cleanup_);
        g_source_unref(cleanup_);
    }
    g_object_unref(mounts_);
    g_object_unref(server_);
}

std::string MediaServer::Listen(uint16_t port, uint16_t& bound) {
    gst_rtsp_server_set_address(server_, "127.0.0.1");
    std::string service = std::to_string(port);
    gst_rtsp_server_set_service(server_, service.c_str());
    GError* error = nullptr;
    GSource* source = gst_rtsp_server_create_source(server_, nullptr, &error);
    if (!source) {
        std::string reason = "cannot listen on 127.0.0.1:" + service + ": " +
                             (error && error->message ? error->message : "unknown error");
        g_clear_error(&error);
        return reason;
    }
    g_source_attach(source, nullptr);
    g_source_unref(source);
    int actual = gst_rtsp_server_get_bound_port(server_);
    if (actual <= 0) return "the listening socket has no port";
    bound = static_cast<uint16_t>(actual);
    return {};
}

std::string MediaServer::SetStream(const std::string& path, const RtspStreamConfig& config) {
    if (!IsMountablePath(path)) return "bad path " + path;
    if (std::string why = config.Validate(); !why.empty()) return why;

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    std::string launch = replay_ ? ReplaySource::LaunchDescription() : config.PipelineDescription();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    // One encoder per path, as on a camera: every client gets the same frames.
    // A replay is rewritten per session, so each gets a media of its own.
    gst_rtsp_media_factory_set_shared(factory, replay_ ? FALSE : TRUE);
    // Permissions only count while authentication is on.
    gst_rtsp_media_factory_add_role(factory, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                    GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    auto* context = new ProbeContext{this, path, config.alarmData && !replay_, replay_};
    g_signal_connect_data(
        factory, "media-configure", G_CALLBACK(OnMediaConfigure), context,
        [](gpointer data, GClosure*) { delete static_cast<ProbeContext*>(data); }, GConnectFlags(0));
    gst_rtsp_mount_points_add_factory(mounts_, path.c_str(), factory);  // takes the factory
    return {};
}

std::string MediaServer::SetAuth(const std::string& mode, const std::string& user, const std::string& password,
                                 const std::string& realm) {
    if (mode == "none") {
        gst_rtsp_server_set_auth(server_, nullptr);
        return {};
    }
    if (mode != "basic" && mode != "digest") return "unknown authentication mode " + mode;
    if (user.empty()) return "authentication needs a user name";

    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
    if (mode == "basic") {
        gchar* basic = gst_rtsp_auth_make_basic(user.c_str(), password.c_str());
        gst_rtsp_auth_add_basic(auth, basic, token);
        g_free(basic);
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_BASIC);
    } else {
        gst_rtsp_auth_add_digest(auth, user.c_str(), password.c_str(), token);
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
    }
    if (!realm.empty()) gst_rtsp_auth_set_realm(auth, realm.c_str());
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(server_, auth);
    g_object_unref(auth);
    return {};
}

void MediaServer::SetRtpSending(const std::string& path, bool on) {
    std::lock_guard<std::mutex> guard(rtpMutex_);
    if (path.empty()) {
        allRtpStopped_ = !on;
        rtpStopped_.clear();
    } else if (on) {
        rtpStopped_.erase(path);
    } else {
        rtpStopped_.insert(path);
    }
}

bool MediaServer::RtpStopped(const std::string& path) {
    std::lock_guard<std::mutex> guard(rtpMutex_);
    return allRtpStopped_ || rtpStopped_.count(path) != 0;
}

void MediaServer::DropConnections() {
    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(server_);
    GList* kept = gst_rtsp_session_pool_filter(pool, RemoveSession, nullptr);
    g_list_free_full(kept, g_object_unref);
    g_object_unref(pool);
    GList* clients = gst_rtsp_server_client_filter(server_, ShutClient, nullptr);
    g_list_free_full(clients, g_object_unref);
}

void MediaServer::SendGarbage(const std::string& bytes) {
    GList* clients = gst_rtsp_server_client_filter(server_, nullptr, nullptr);
    for (GList* item = clients; item; item = item->next) {
        GstRTSPConnection* connection = gst_rtsp_client_get_connection(GST_RTSP_CLIENT(item->data));
        GSocket* socket = connection ? gst_rtsp_connection_get_write_socket(connection) : nullptr;
        // Best effort: a full socket buffer takes what fits.
        if (socket) g_socket_send(socket, bytes.data(), bytes.size(), nullptr, nullptr);
    }
    g_list_free_full(clients, g_object_unref);
}

void MediaServer::OnClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer self) {
    auto* me = static_cast<MediaServer*>(self);
    unsigned id = me->nextConnection_++;
    g_object_set_data(G_OBJECT(client), kConnectionKey, GUINT_TO_POINTER(id));
    g_signal_connect(client, "closed", G_CALLBACK(OnClientClosed), me);
    g_signal_connect(client, "new-session", G_CALLBACK(OnNewSession), me);
    g_signal_connect(client, "pre-describe-request", G_CALLBACK(OnPreDescribe), me);
    g_signal_connect(client, "send-message", G_CALLBACK(OnSendMessage), me);
    me->report_(ControlLine("open").Set("conn", id));
}

void MediaServer::OnClientClosed(GstRTSPClient* client, gpointer self) {
    static_cast<MediaServer*>(self)->report_(ControlLine("close").Set("conn", ConnectionId(client)));
}

void MediaServer::OnNewSession(GstRTSPClient*, GstRTSPSession* session, gpointer self) {
    gst_rtsp_session_set_timeout(session, static_cast<MediaServer*>(self)->sessionTimeout_.load());
}

GstRTSPStatusCode MediaServer::OnPreDescribe(GstRTSPClient*, GstRTSPContext*, gpointer self) {
    unsigned status = static_cast<MediaServer*>(self)->describeRefusal_.load();
    return status ? static_cast<GstRTSPStatusCode>(status) : GST_RTSP_STS_OK;
}

void MediaServer::OnSendMessage(GstRTSPClient* client, GstRTSPContext* ctx, GstRTSPMessage* message, gpointer self) {
    GstRTSPMessage* request = ctx ? ctx->request : nullptr;
    if (!request || gst_rtsp_message_get_type(request) != GST_RTSP_MESSAGE_REQUEST) return;
    if (gst_rtsp_message_get_type(message) != GST_RTSP_MESSAGE_RESPONSE) return;

    GstRTSPMethod method = GST_RTSP_INVALID;
    const gchar* uri = nullptr;
    GstRTSPVersion version;
    gst_rtsp_message_parse_request(request, &method, &uri, &version);
    GstRTSPStatusCode status = GST_RTSP_STS_INVALID;
    const gchar* reason = nullptr;
    gst_rtsp_message_parse_response(message, &status, &reason, &version);

    ControlLine line("request");
    line.Set("conn", ConnectionId(client));
    line.Set("method", gst_rtsp_method_as_text(method) ? gst_rtsp_method_as_text(method) : "");
    line.Set("url", uri ? uri : "");
    line.Set("cseq", Header(request, GST_RTSP_HDR_CSEQ));
    line.Set("authorization", Header(request, GST_RTSP_HDR_AUTHORIZATION));
    line.Set("transport", Header(request, GST_RTSP_HDR_TRANSPORT));
    line.Set("session", Header(request, GST_RTSP_HDR_SESSION));
    line.Set("agent", Header(request, GST_RTSP_HDR_USER_AGENT));
    line.Set("status", static_cast<uint64_t>(status));
    line.Set("reply-session", Header(message, GST_RTSP_HDR_SESSION));
    line.Set("reply-transport", Header(message, GST_RTSP_HDR_TRANSPORT));
    static_cast<MediaServer*>(self)->report_(line);
}

void MediaServer::OnMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer context) {
    g_signal_connect(media, "prepared", G_CALLBACK(OnMediaPrepared), static_cast<ProbeContext*>(context)->server);
    GstElement* bin = gst_rtsp_media_get_element(media);
    if (!bin) return;
    if (const auto& replay = static_cast<ProbeContext*>(context)->replay) ReplaySource::Attach(bin, replay);
    if (GstElement* encoder = gst_bin_get_by_name(GST_BIN(bin), "enc")) {
        TimestampRestorer::Attach(encoder);
        gst_object_unref(encoder);
    }
    if (GstElement* pay = gst_bin_get_by_name(GST_BIN(bin), "pay0")) {
        if (GstPad* pad = gst_element_get_static_pad(pay, "src")) {
            // A camera's live stream cannot be positioned: without this the
            // server would honour PLAY's "Range: npt=0.000-" with a flushing
            // seek, which restarts the time stamps (and stalls avenc_mpeg4).
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, OnSeekingQuery, nullptr, nullptr);
            // The media may outlive its factory (a path reconfigured while a
            // session plays), so the probe keeps a context of its own.
            auto* own = new ProbeContext(*static_cast<ProbeContext*>(context));
            gst_pad_add_probe(pad,
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                              OnRtpBuffer, own, [](gpointer data) { delete static_cast<ProbeContext*>(data); });
            if (own->alarmData) {
                gst_pad_add_probe(
                    pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    OnAlarmData, new ProbeContext(*own),
                    [](gpointer data) { delete static_cast<ProbeContext*>(data); });
            }
            gst_object_unref(pad);
        }
        gst_object_unref(pay);
    }
    gst_object_unref(bin);
}

// The RTP sessions exist once the media is prepared; RTCP starts with PLAY.
void MediaServer::OnMediaPrepared(GstRTSPMedia* media, gpointer self) {
    guint64 interval = static_cast<MediaServer*>(self)->rtcpIntervalMs_.load() * GST_MSECOND;
    for (guint i = 0; i < gst_rtsp_media_n_streams(media); ++i) {
        GstRTSPStream* stream = gst_rtsp_media_get_stream(media, i);
        if (GObject* session = stream ? gst_rtsp_stream_get_rtpsession(stream) : nullptr) {
            g_object_set(session, "rtcp-min-interval", interval, nullptr);
            g_object_unref(session);
        }
    }
}

GstPadProbeReturn MediaServer::OnRtpBuffer(GstPad*, GstPadProbeInfo*, gpointer context) {
    auto* probe = static_cast<ProbeContext*>(context);
    return probe->server->RtpStopped(probe->path) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// The packet with the alarm block in front of its VOP: a payload that opens
// with a VOP gets it first, one that opens with the configuration headers
// just before its VOP. Null when the packet has no VOP to mark.
static GstBuffer* WithAlarmBlock(GstBuffer* buffer, uint8_t bits) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return nullptr;
    const uint8_t* data = map.data;
    const size_t size = map.size;
    GstBuffer* marked = nullptr;
    const size_t payload = size >= 12 ? 12 + 4 * size_t(data[0] & 0x0F) : size;
    const auto startCode = [&](size_t at, uint8_t code) {
        return at + 4 <= size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 && data[at + 3] == code;
    };
    size_t vop = size;
    if (startCode(payload, 0xB6)) {
        vop = payload;
    } else if (startCode(payload, 0xB0)) {
        for (size_t i = payload + 4; i + 4 <= size && vop == size; ++i)
            if (startCode(i, 0xB6)) vop = i;
    }
    if (vop < size) {
        const uint8_t block[] = {0x00, 0x00, 0x01, 0xB2, 'A', 'L', 'A', 'R', 'M', bits, 0xFF, 0xFF};
        marked = gst_buffer_new_allocate(nullptr, size + sizeof block, nullptr);
        gst_buffer_copy_into(marked, buffer, GST_BUFFER_COPY_METADATA, 0, static_cast<gsize>(-1));
        gst_buffer_fill(marked, 0, data, vop);
        gst_buffer_fill(marked, vop, block, sizeof block);
        gst_buffer_fill(marked, vop + sizeof block, data + vop, size - vop);
    }
    gst_buffer_unmap(buffer, &map);
    return marked;
}

GstPadProbeReturn MediaServer::OnAlarmData(GstPad*, GstPadProbeInfo* info, gpointer context) {
    const uint8_t bits = static_cast<ProbeContext*>(context)->server->alarmBits_.load();
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (GstBuffer* marked = WithAlarmBlock(buffer, bits)) {
            gst_buffer_unref(buffer);
            GST_PAD_PROBE_INFO_DATA(info) = marked;
        }
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        GstBufferList* out = gst_buffer_list_new_sized(gst_buffer_list_length(list));
        for (guint i = 0; i < gst_buffer_list_length(list); ++i) {
            GstBuffer* buffer = gst_buffer_list_get(list, i);
            GstBuffer* marked = WithAlarmBlock(buffer, bits);
            gst_buffer_list_add(out, marked ? marked : gst_buffer_ref(buffer));
        }
        gst_buffer_list_unref(list);
        GST_PAD_PROBE_INFO_DATA(info) = out;
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn MediaServer::OnSeekingQuery(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (!query || GST_QUERY_TYPE(query) != GST_QUERY_SEEKING) return GST_PAD_PROBE_OK;
    GstFormat format = GST_FORMAT_TIME;
    gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
    gst_query_set_seeking(query, format, FALSE, 0, -1);
    return GST_PAD_PROBE_HANDLED;
}

gboolean MediaServer::OnSessionCleanup(GstRTSPSessionPool* pool, gpointer) {
    gst_rtsp_session_pool_cleanup(pool);
    return TRUE;
}

}  // namespace dravnel::sim
