/* Recording: a pipeline of its own fed with frames from the capture tap (and
 * sound from a small audio capture pipeline), with timestamps rewritten so
 * the file starts at zero and pauses leave neither gaps nor frozen frames.
 * Being a separate, non-live pipeline, it can be drained with EOS and
 * finalised without disturbing the preview, and its errors stay its own. */
#include "engine_private.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/tag/tag.h>
#include <glib/gstdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace cc {

namespace {

struct VideoCodec {
    REuint32 code;
    const char *name, *encoder, *parser, *caps;
};

const VideoCodec kVideo[] = {
    {1, "H.264", "x264enc", "h264parse", "video/x-h264"},
    {2, "MPEG-4", "avenc_mpeg4", "mpeg4videoparse", "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"},
    {3, "H.263", "avenc_h263", "h263parse", "video/x-h263, variant=(string)itu"},
    /* Encoded with libavcodec directly (engine_mpeg2.cpp). */
    {4, "MPEG-2", nullptr, "mpegvideoparse", "video/mpeg, mpegversion=(int)2, systemstream=(boolean)false"},
};

/* alt_muxer writes the same kind of file for streams the first one refuses. */
struct Container {
    REuint32 code;
    const char *name, *muxer, *alt_muxer;
};

const Container kContainers[] = {
    /* mp4mux takes no H.263; an ISO file of the 3GPP brand does. */
    {0, "MP4", "mp4mux", "3gppmux"}, {1, "MOV", "qtmux", nullptr}, {2, "MKV", "matroskamux", nullptr},
    {3, "AVI", "avimux", nullptr},   {4, "FLV", "flvmux", nullptr}, {5, "TS", "mpegtsmux", nullptr},
};

struct AudioCodec {
    const char *name, *encoder, *parser, *caps;
};

const AudioCodec kAac = {"AAC", "avenc_aac", "aacparse", "audio/mpeg, mpegversion=(int)4"};
const AudioCodec kMp3 = {"MP3", "lamemp3enc", "mpegaudioparse", "audio/mpeg, mpegversion=(int)1, layer=(int)3"};

/* H.263 takes only these picture sizes. */
const int kH263Sizes[][2] = {{1408, 1152}, {704, 576}, {352, 288}, {176, 144}, {128, 96}};

const VideoCodec *video_codec(REuint32 type)
{
    if (type == 0)
        type = 1;
    for (const auto &c : kVideo)
        if (c.code == type)
            return &c;
    return nullptr;
}

const Container *container(REuint32 code)
{
    for (const auto &c : kContainers)
        if (c.code == code)
            return &c;
    return nullptr;
}

/* Whether a muxer's request pads take the given stream. */
bool muxer_takes(const char *muxer, const char *caps_str)
{
    GstElementFactory *f = gst_element_factory_find(muxer);
    if (!f)
        return false;
    GstCaps *want = gst_caps_from_string(caps_str);
    bool ok = false;
    for (const GList *l = gst_element_factory_get_static_pad_templates(f); l && !ok; l = l->next) {
        GstStaticPadTemplate *t = static_cast<GstStaticPadTemplate *>(l->data);
        if (t->direction != GST_PAD_SINK)
            continue;
        GstCaps *tc = gst_static_pad_template_get_caps(t);
        ok = want && gst_caps_can_intersect(tc, want);
        gst_caps_unref(tc);
    }
    if (want)
        gst_caps_unref(want);
    gst_object_unref(f);
    return ok;
}

/* The container's muxer that takes this video, or null when none does. */
const char *muxer_for(const Container *ct, const VideoCodec *vc)
{
    if (muxer_takes(ct->muxer, vc->caps))
        return ct->muxer;
    if (ct->alt_muxer && muxer_takes(ct->alt_muxer, vc->caps))
        return ct->alt_muxer;
    return nullptr;
}

} // namespace

struct Recording {
    Engine *e = nullptr;
    guint gen = 0;
    GstElement *pipeline = nullptr;
    GstElement *vsrc = nullptr;
    GstElement *asrc = nullptr;
    GstElement *audio_pipe = nullptr;
    GSource *bus_src = nullptr;
    GSource *audio_bus_src = nullptr;
    GSource *size_timer = nullptr;

    gchar *path = nullptr; /* single file, or null */
    gchar *seg_dir = nullptr, *seg_stem = nullptr;
    bool split = false;
    guint count = 0;
    guint64 max_size = 0;
    guint64 max_dur = 0; /* ns, 0 = none */
    bool created_file = false;

    GstClock *clock = nullptr;
    GstClockTime base = 0;
    GstClockTime t0 = GST_CLOCK_TIME_NONE;
    GstClockTime pause_start = 0, paused_total = 0, resume_abs = 0;
    GstClockTime last_vpts = GST_CLOCK_TIME_NONE, last_apts = GST_CLOCK_TIME_NONE;
    GstClockTime media = 0;
    GstClockTime cut = GST_CLOCK_TIME_NONE; /* nothing from here on is kept */
    GstClockTime frame_dur = 0;
    bool audio_discont = false;
    bool eos = false, failed = false, limit_hit = false;
    guint64 max_queue = 0;
    bool warned_drop = false;
    guint64 frames = 0;
    guint64 size_seen = 0;
    gint64 size_seen_at = 0;
    double byte_rate = 0;
};

namespace {

bool link_to_mux(GstElement *from, GstElement *mux, bool video, bool splitmux)
{
    if (!splitmux)
        return gst_element_link(from, mux);
    GstPad *sink = gst_element_request_pad_simple(mux, video ? "video" : "audio_%u");
    GstPad *src = gst_element_get_static_pad(from, "src");
    bool ok = sink && src && gst_pad_link(src, sink) == GST_PAD_LINK_OK;
    if (src)
        gst_object_unref(src);
    if (sink)
        gst_object_unref(sink); /* the element keeps its request pad */
    return ok;
}

void free_recording(Recording *r)
{
    if (!r)
        return;
    if (r->pipeline)
        gst_object_unref(r->pipeline);
    if (r->audio_pipe)
        gst_object_unref(r->audio_pipe);
    if (r->clock)
        gst_object_unref(r->clock);
    g_free(r->path);
    g_free(r->seg_dir);
    g_free(r->seg_stem);
    delete r;
}

/* Tears down a recording that never became the engine's current one. */
void discard(Engine *e, Recording *r)
{
    if (r->audio_pipe)
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
    if (r->pipeline)
        gst_element_set_state(r->pipeline, GST_STATE_NULL);
    events_destroy_source_sync(e, r->bus_src);
    events_destroy_source_sync(e, r->audio_bus_src);
    events_destroy_source_sync(e, r->size_timer);
    r->bus_src = r->audio_bus_src = r->size_timer = nullptr;
    if (r->created_file && r->path)
        g_unlink(r->path);
    free_recording(r);
}

void post_limit(Recording *r, REuint32 code)
{
    /* caller holds rlock */
    Engine *e = r->e;
    if (r->limit_hit || e->rec != r || e->rstate == REC_STOPPING)
        return;
    r->limit_hit = true;
    events_post_finish(e, code, r->gen);
}

gboolean on_rec_bus(GstBus *, GstMessage *msg, gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    Engine *e = r->e;
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_EOS:
        g_mutex_lock(&e->rlock);
        r->eos = true;
        g_cond_broadcast(&e->rcond);
        g_mutex_unlock(&e->rlock);
        break;
    case GST_MESSAGE_ERROR: {
        GError *err = eng_bus_error(msg, "recording");
        g_clear_error(&err);
        g_mutex_lock(&e->rlock);
        bool post = !r->failed && e->rec == r && e->rstate != REC_STOPPING;
        r->failed = true;
        g_cond_broadcast(&e->rcond);
        g_mutex_unlock(&e->rlock);
        if (post)
            events_post_finish(e, RE_EVENT_ERROR, r->gen);
        break;
    }
    case GST_MESSAGE_WARNING:
        eng_bus_warning(msg, "recording");
        break;
    default:
        break;
    }
    return G_SOURCE_CONTINUE;
}

gboolean on_audio_bus(GstBus *, GstMessage *msg, gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError *err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        eng_warn("audio capture failed (%s); the recording goes on without sound",
                err ? err->message : "?");
        g_clear_error(&err);
        /* The muxer waits for every stream; ending this one lets video go on. */
        gst_app_src_end_of_stream(GST_APP_SRC(r->asrc));
    }
    return G_SOURCE_CONTINUE;
}

/* Single file with a size limit: end it while finalising still fits. */
gboolean on_size_check(gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    struct stat st;
    if (!r->path || stat(r->path, &st) != 0)
        return G_SOURCE_CONTINUE;
    gint64 now = g_get_monotonic_time();
    guint64 size = (guint64)st.st_size;
    /* Over a second at least: muxers write in bursts (MP4 fragments). */
    if (r->size_seen_at && now - r->size_seen_at >= G_USEC_PER_SEC && size >= r->size_seen) {
        double rate = (double)(size - r->size_seen) * G_USEC_PER_SEC / (double)(now - r->size_seen_at);
        r->byte_rate = r->byte_rate > 0 ? 0.7 * r->byte_rate + 0.3 * rate : rate;
    }
    if (!r->size_seen_at || now - r->size_seen_at >= G_USEC_PER_SEC) {
        r->size_seen = size;
        r->size_seen_at = now;
    }
    /* Room for what is still buffered in the muxer and the file sink, half a
     * second of data in flight, and an index written at the end. */
    g_mutex_lock(&r->e->rlock); /* frames grows on the streaming thread */
    guint64 margin = 128 * 1024 + (guint64)(r->byte_rate * 0.5) + r->frames * 16;
    if (size + margin >= r->max_size)
        post_limit(r, RE_EVENT_MAX_FILESIZE);
    g_mutex_unlock(&r->e->rlock);
    return G_SOURCE_CONTINUE;
}

gchar *on_format_location(GstElement *, guint fragment_id, GstSample *first, gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    if (fragment_id >= r->count) {
        /* Count reached: this would-be segment goes nowhere while the
         * recording is ended, and the recorded time ends where it starts;
         * the earlier segments stay as they are. */
        GstBuffer *b = first ? gst_sample_get_buffer(first) : nullptr;
        g_mutex_lock(&r->e->rlock);
        const GstSegment *seg = first ? gst_sample_get_segment(first) : nullptr;
        /* Encoders offset their timestamps; the running time is ours. */
        GstClockTime at = b && seg ? gst_segment_to_running_time(seg, GST_FORMAT_TIME, GST_BUFFER_PTS(b))
                                   : GST_CLOCK_TIME_NONE;
        if (at != GST_CLOCK_TIME_NONE && r->cut == GST_CLOCK_TIME_NONE) {
            r->cut = at;
            if (r->media > r->cut)
                r->media = r->cut;
        }
        post_limit(r, RE_EVENT_MAX_FILESIZE);
        g_mutex_unlock(&r->e->rlock);
        return g_strdup("/dev/null");
    }
    gchar *name = g_strdup_printf("%s_%03u.ts", r->seg_stem, fragment_id + 1);
    gchar *full = g_build_filename(r->seg_dir, name, NULL);
    g_free(name);
    eng_info("recording segment %s", full);
    return full;
}

GstFlowReturn on_audio_sample(GstAppSink *sink, gpointer data);

/* Timestamp of a capture-side buffer on the recording's timeline; false to drop it. */
bool retime(Recording *r, GstClockTime abs, bool video, GstClockTime *out)
{
    if (r->t0 == GST_CLOCK_TIME_NONE) {
        if (!video)
            return false; /* the file starts with a picture */
        r->t0 = abs;
    }
    if (abs < r->t0 || abs < r->resume_abs)
        return false; /* from before the start, or captured during a pause */
    GstClockTime t = abs - r->t0;
    if (t < r->paused_total)
        return false;
    t -= r->paused_total;
    GstClockTime last = video ? r->last_vpts : r->last_apts;
    if (last != GST_CLOCK_TIME_NONE && (video ? t <= last : t < last))
        return false;
    if (r->max_dur && t >= r->max_dur) {
        post_limit(r, RE_EVENT_MAX_DURATION);
        return false;
    }
    if (r->cut != GST_CLOCK_TIME_NONE && t >= r->cut)
        return false;
    *out = t;
    return true;
}

GstFlowReturn on_audio_sample(GstAppSink *sink, gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    Engine *e = r->e;
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer *buf = gst_sample_get_buffer(sample);
    const GstSegment *seg = gst_sample_get_segment(sample);
    GstClockTime rt = buf && seg ? gst_segment_to_running_time(seg, GST_FORMAT_TIME, GST_BUFFER_PTS(buf))
                                 : GST_CLOCK_TIME_NONE;
    if (rt == GST_CLOCK_TIME_NONE) {
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    /* Loudest sample, for get_max_amplitude. */
    GstMapInfo map;
    if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
        const gint16 *s = reinterpret_cast<const gint16 *>(map.data);
        guint32 peak = 0;
        for (gsize i = 0; i < map.size / 2; i++) {
            guint32 a = (guint32)std::abs((int)s[i]);
            if (a > peak)
                peak = a;
        }
        gst_buffer_unmap(buf, &map);
        g_mutex_lock(&e->rlock);
        if (peak > e->peak)
            e->peak = peak;
        g_mutex_unlock(&e->rlock);
    }
    GstClockTime out = 0;
    GstElement *asrc = nullptr;
    bool discont = false;
    g_mutex_lock(&e->rlock);
    if (e->rec == r && e->rstate == REC_RUNNING && retime(r, r->base + rt, false, &out)) {
        r->last_apts = out;
        discont = r->audio_discont;
        r->audio_discont = false;
        asrc = GST_ELEMENT(gst_object_ref(r->asrc));
    }
    g_mutex_unlock(&e->rlock);
    if (asrc) {
        GstBuffer *copy = gst_buffer_copy(buf);
        GST_BUFFER_PTS(copy) = out;
        GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
        if (discont)
            GST_BUFFER_FLAG_SET(copy, GST_BUFFER_FLAG_DISCONT);
        gst_app_src_push_buffer(GST_APP_SRC(asrc), copy);
        gst_object_unref(asrc);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

/* The libav encoders of GStreamer 1.22.0 emit buffers without timestamps.
 * Without B-frames each input frame gives one output frame in order, so the
 * input timestamps can be carried across. */
struct TsCarry {
    GMutex m;
    GQueue q;
};

void ts_carry_free(gpointer data)
{
    TsCarry *c = static_cast<TsCarry *>(data);
    g_queue_clear_full(&c->q, g_free);
    g_mutex_clear(&c->m);
    delete c;
}

GstPadProbeReturn ts_carry_in(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    TsCarry *c = static_cast<TsCarry *>(data);
    GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime *t = g_new(GstClockTime, 2);
    t[0] = GST_BUFFER_PTS(b);
    t[1] = GST_BUFFER_DURATION(b);
    g_mutex_lock(&c->m);
    g_queue_push_tail(&c->q, t);
    g_mutex_unlock(&c->m);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn ts_carry_out(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    TsCarry *c = static_cast<TsCarry *>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        /* The encoder moves its segment 1000 hours ahead for timestamps it
         * then fails to write; the input's zero-based segment matches the
         * carried timestamps. */
        GstEvent *ev = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(ev) == GST_EVENT_SEGMENT) {
            GstSegment seg;
            gst_segment_init(&seg, GST_FORMAT_TIME);
            GstEvent *fixed = gst_event_new_segment(&seg);
            gst_event_set_seqnum(fixed, gst_event_get_seqnum(ev));
            gst_event_unref(ev);
            GST_PAD_PROBE_INFO_DATA(info) = fixed;
        }
        return GST_PAD_PROBE_OK;
    }
    g_mutex_lock(&c->m);
    GstClockTime *t = static_cast<GstClockTime *>(g_queue_pop_head(&c->q));
    g_mutex_unlock(&c->m);
    if (!t)
        return GST_PAD_PROBE_OK;
    /* What comes out is libav's "no timestamp" (2^63 ns), not NONE: replace it. */
    GstBuffer *b = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_BUFFER_PTS(b) = t[0];
    GST_BUFFER_DTS(b) = t[0];
    if (!GST_BUFFER_DURATION_IS_VALID(b))
        GST_BUFFER_DURATION(b) = t[1];
    GST_PAD_PROBE_INFO_DATA(info) = b;
    g_free(t);
    return GST_PAD_PROBE_OK;
}

void add_ts_carry(GstElement *enc)
{
    TsCarry *c = new TsCarry();
    g_mutex_init(&c->m);
    g_queue_init(&c->q);
    g_object_set_data_full(G_OBJECT(enc), "cc-ts-carry", c, ts_carry_free);
    GstPad *in = gst_element_get_static_pad(enc, "sink");
    GstPad *out = gst_element_get_static_pad(enc, "src");
    if (in) {
        gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, ts_carry_in, c, nullptr);
        gst_object_unref(in);
    }
    if (out) {
        gst_pad_add_probe(out, (GstPadProbeType)(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          ts_carry_out, c, nullptr);
        gst_object_unref(out);
    }
}

guint default_bitrate(int w, int h, int fps, const VideoCodec *vc)
{
    double bps = (double)w * h * MAX(fps, 1) * 0.1;
    if (vc->code != 1)
        bps *= 2; /* the older codecs need about twice as much for the same picture */
    return (guint)CLAMP(bps, 64000.0, 50000000.0);
}

guint encoder_bitrate(const VideoCodec *vc, const Settings &s, int w, int h, int fps)
{
    return s.venc.bitRate ? s.venc.bitRate : default_bitrate(w, h, fps, vc);
}

/* A key frame every second by default: split points and seeking stay close. */
guint key_interval(const Settings &s, int fps)
{
    return s.venc.IFrameIntervalMs ? MAX(1u, (guint)((guint64)s.venc.IFrameIntervalMs * fps / 1000))
                                   : (guint)MAX(fps, 1);
}

void configure_encoder(GstElement *enc, const VideoCodec *vc, const Settings &s, int w, int h, int fps)
{
    guint bitrate = encoder_bitrate(vc, s, w, h, fps);
    guint gop = key_interval(s, fps);
    if (vc->code == 1) {
        gst_util_set_object_arg(G_OBJECT(enc), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(enc), "speed-preset", "ultrafast");
        g_object_set(enc, "bitrate", MAX(1u, bitrate / 1000), "key-int-max", gop, NULL);
    } else {
        g_object_set(enc, "bitrate", (glong)bitrate, "gop-size", (gint)gop, "max-bframes", 0, NULL);
        add_ts_carry(enc);
    }
}

void apply_output_settings(GstElement *mux, const Settings &s, bool mp4)
{
    const REOutputFileSettings &o = s.ofs;
    if (mp4) {
        if (o.interleaveMs)
            g_object_set(mux, "interleave-time", (guint64)o.interleaveMs * GST_MSECOND, NULL);
        if (o.movieTimeScale)
            g_object_set(mux, "movie-timescale", (guint)o.movieTimeScale, NULL);
        if (o.videoTimeScale)
            g_object_set(mux, "trak-timescale", (guint)o.videoTimeScale, NULL);
    }
    if (!GST_IS_TAG_SETTER(mux))
        return;
    GstTagList *tags = gst_tag_list_new_empty();
    if (o.rotation) {
        gchar *orient = g_strdup_printf("rotate-%u", o.rotation);
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_IMAGE_ORIENTATION, orient, NULL);
        g_free(orient);
    }
    if (o.latitudex || o.longitudex) {
        double lat = (double)(gint64)o.latitudex / 1e7, lon = (double)(gint64)o.longitudex / 1e7;
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_GEO_LOCATION_LATITUDE, lat,
                         GST_TAG_GEO_LOCATION_LONGITUDE, lon, NULL);
    }
    if (!gst_tag_list_is_empty(tags))
        gst_tag_setter_merge_tags(GST_TAG_SETTER(mux), tags, GST_TAG_MERGE_REPLACE);
    gst_tag_list_unref(tags);
}

/* Audio source for this recording, or null for none. */
GstElement *make_audio_source(const Settings &s)
{
    if (s.audio_source == 1)
        return nullptr;
    if (s.audio_source == 2) {
        GstElement *t = gst_element_factory_make("audiotestsrc", nullptr);
        if (t) {
            g_object_set(t, "is-live", TRUE, "volume", 0.3, NULL);
            eng_info("audio source: test tone");
        }
        return t;
    }
    GstElement *src = nullptr;
    if (source_probe_audio(&src)) {
        eng_info("audio source: %s", GST_OBJECT_NAME(src));
        return src;
    }
    eng_info("no audio capture device; recording without sound");
    return nullptr;
}

/* The small live pipeline that captures sound for the recording, on the
 * capture pipeline's clock and base time so both streams share one timeline. */
bool build_audio_capture(Recording *r, GstElement *src, int rate, int channels)
{
    Engine *e = r->e;
    r->audio_pipe = gst_pipeline_new("capturecore-audio");
    if (!r->audio_pipe || !gst_bin_add(GST_BIN(r->audio_pipe), src)) {
        gst_object_unref(src);
        return false;
    }
    GstElement *conv = eng_make(r->audio_pipe, "audioconvert");
    GstElement *res = eng_make(r->audio_pipe, "audioresample");
    GstElement *filter = eng_make(r->audio_pipe, "capsfilter");
    GstElement *sink = eng_make(r->audio_pipe, "appsink");
    if (!link_chain({src, conv, res, filter, sink}))
        return false;
    GstCaps *c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                     G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, rate,
                                     "channels", G_TYPE_INT, channels, NULL);
    g_object_set(filter, "caps", c, NULL);
    gst_caps_unref(c);
    g_object_set(sink, "sync", FALSE, "async", FALSE, NULL);
    GstAppSinkCallbacks cbs = {};
    cbs.new_sample = on_audio_sample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &cbs, r, nullptr);
    gst_pipeline_use_clock(GST_PIPELINE(r->audio_pipe), r->clock);
    gst_element_set_start_time(r->audio_pipe, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(r->audio_pipe, r->base);
    r->audio_bus_src = events_add_bus_watch(e, r->audio_pipe, on_audio_bus, r, nullptr);
    return r->audio_bus_src != nullptr;
}

/* H.263 takes only fixed picture sizes: the largest that fits in w x h.
 * True when that differs from w x h. */
bool h263_size(int *w, int *h)
{
    const int *best = kH263Sizes[4];
    for (const auto &sz : kH263Sizes)
        if (sz[0] <= *w && sz[1] <= *h) {
            best = sz;
            break;
        }
    bool differs = best[0] != *w || best[1] != *h;
    *w = best[0];
    *h = best[1];
    return differs;
}

bool build_recording(Recording *r, const Container *ct, const VideoCodec *vc, GstCaps *vcaps)
{
    Engine *e = r->e;
    const Settings &s = e->s;
    GstStructure *vs = gst_caps_get_structure(vcaps, 0);
    int w = 0, h = 0, fn = 30, fd = 1;
    gst_structure_get_int(vs, "width", &w);
    gst_structure_get_int(vs, "height", &h);
    gst_structure_get_fraction(vs, "framerate", &fn, &fd);
    int fps = fd > 0 ? MAX(1, (int)std::lround((double)fn / fd)) : 30;
    r->frame_dur = gst_util_uint64_scale_int(GST_SECOND, fd > 0 ? fd : 1, fn > 0 ? fn : 30);
    /* Two seconds of raw frames may wait for the encoder; beyond that frames
     * are dropped rather than memory growing without bound. */
    r->max_queue = (guint64)MAX(1, w) * MAX(1, h) * 3 / 2 * (guint64)fps * 2;

    GstElement *p = r->pipeline = gst_pipeline_new("capturecore-record");
    if (!p)
        return false;
    r->vsrc = eng_make(p, "appsrc", "video");
    if (!r->vsrc)
        return false;
    g_object_set(r->vsrc, "caps", vcaps, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE,
                 "max-bytes", (guint64)0, NULL);

    bool rtp = s.rtp_host && !r->split;
    bool ts = r->split || rtp || ct->code == 5;
    GstElement *conv = eng_make(p, "videoconvert");
    GstElement *last = conv;
    bool ok = link_chain({r->vsrc, conv});
    GstElement *ifilter = eng_make(p, "capsfilter");
    if (ifilter) {
        GstCaps *c = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", NULL);
        g_object_set(ifilter, "caps", c, NULL);
        gst_caps_unref(c);
    }
    int rn = fn, rd = fd;
    GstElement *rate = nullptr, *rf = nullptr;
    bool convert_rate = vc->code == 4 && fd > 0 && mpeg2_rate(fn, fd, &rn, &rd);
    if (convert_rate) {
        /* MPEG-2 has a fixed set of frame rates: convert to the nearest. */
        rate = eng_make(p, "videorate");
        rf = eng_make(p, "capsfilter");
        if (rf) {
            GstCaps *c = gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION, rn, rd, NULL);
            g_object_set(rf, "caps", c, NULL);
            gst_caps_unref(c);
        }
        fps = MAX(1, (int)std::lround((double)rn / rd));
        eng_info("%s recording at %d/%d frames per second (the source gives %d/%d)", vc->name, rn, rd, fn, fd);
    }
    int tw = w, th = h;
    if (ok && vc->code == 3 && h263_size(&tw, &th)) {
        GstElement *scale = eng_make(p, "videoscale");
        GstElement *f = eng_make(p, "capsfilter");
        if (f) {
            GstCaps *c = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, tw, "height", G_TYPE_INT,
                                             th, NULL);
            g_object_set(f, "caps", c, NULL);
            gst_caps_unref(c);
        }
        ok = link_chain({last, scale, f});
        last = f;
        eng_info("%s recording scaled from %dx%d to %dx%d", vc->name, w, h, tw, th);
    }
    if (ok && convert_rate) {
        ok = link_chain({last, rate, rf});
        last = rf;
    }
    GstElement *parse = eng_make(p, vc->parser);
    if (vc->code == 4) {
        GstElement *in = nullptr, *out = nullptr;
        ok = ok && mpeg2_add_encoder(p, tw, th, rn, rd, encoder_bitrate(vc, s, tw, th, fps), key_interval(s, fps),
                                     &in, &out) &&
             link_chain({last, ifilter, in}) && link_chain({out, parse});
    } else {
        GstElement *enc = eng_make(p, vc->encoder);
        ok = ok && link_chain({last, ifilter, enc, parse});
        if (ok)
            configure_encoder(enc, vc, s, tw, th, fps);
    }
    if (!ok)
        return false;
    if (vc->code == 1 && ts)
        g_object_set(parse, "config-interval", -1, NULL); /* SPS/PPS before every key frame */

    GstElement *mux = nullptr;
    if (r->split) {
        mux = eng_make(p, "splitmuxsink");
        if (!mux)
            return false;
        /* Muxing adds a few percent to what the splitter counts. */
        guint64 seg = MAX((guint64)64 * 1024, r->max_size / 10 * 9);
        GstElement *seg_sink = mux_file_sink(e, nullptr, nullptr, false);
        if (!seg_sink)
            return false;
        g_object_set(mux, "muxer-factory", "mpegtsmux", "max-size-bytes", seg, "sink", seg_sink, NULL);
        g_signal_connect(mux, "format-location-full", G_CALLBACK(on_format_location), r);
    } else {
        mux = eng_make(p, ts ? "mpegtsmux" : muxer_for(ct, vc));
        if (!mux)
            return false;
        bool mp4 = ct->code <= 1 && !ts;
        if (ct->code == 4 && !ts) {
            /* Otherwise the header claims 24 hours until it is rewritten at
             * the end, which a killed recording never reaches; players then
             * take the duration from the last tag. */
            g_object_set(mux, "streamable", TRUE, NULL);
        }
        apply_output_settings(mux, s, mp4);
        GstElement *sink = nullptr;
        if (rtp) {
            g_object_set(mux, "alignment", 7, NULL);
            GstElement *pay = eng_make(p, "rtpmp2tpay");
            sink = eng_make(p, "udpsink");
            if (sink)
                g_object_set(sink, "host", s.rtp_host, "port", (gint)s.rtp_port, "sync", FALSE, "async",
                             FALSE, NULL);
            ok = link_chain({mux, pay, sink});
        } else {
            sink = mux_file_sink(e, p, r->path, mux_make_fragmented(mux));
            ok = link_chain({mux, sink});
        }
        if (!ok)
            return false;
    }
    if (!link_to_mux(parse, mux, true, r->split)) {
        eng_warn("cannot link the %s stream to the muxer", vc->name);
        return false;
    }

    /* Sound, when there is a source and the container takes it. */
    GstElement *asrc_el = make_audio_source(s);
    if (asrc_el) {
        const AudioCodec *ac = s.aenc.encoderType == 2 || (s.aenc.encoderType == 0 && ct->code == 3 && !ts)
                                   ? &kMp3
                                   : &kAac;
        const char *muxname = r->split || ts ? "mpegtsmux" : muxer_for(ct, vc);
        if (!muxer_takes(muxname, ac->caps)) {
            eng_info("%s does not take %s sound; recording without sound", muxname, ac->name);
            gst_object_unref(asrc_el);
            asrc_el = nullptr;
        } else {
            int rate = s.sample_rate ? (int)s.sample_rate : 44100;
            int ch = s.channels ? (int)s.channels : 2;
            r->asrc = eng_make(p, "appsrc", "audio");
            GstElement *aconv = eng_make(p, "audioconvert");
            GstElement *aenc = eng_make(p, ac->encoder);
            GstElement *aparse = eng_make(p, ac->parser);
            if (!r->asrc || !link_chain({r->asrc, aconv, aenc, aparse}) ||
                !link_to_mux(aparse, mux, false, r->split)) {
                eng_warn("cannot build the %s sound branch", ac->name);
                gst_object_unref(asrc_el);
                return false;
            }
            GstCaps *c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                             G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT, rate,
                                             "channels", G_TYPE_INT, ch, NULL);
            if (ch == 2)
                gst_caps_set_simple(c, "channel-mask", GST_TYPE_BITMASK, (guint64)0x3, NULL);
            g_object_set(r->asrc, "caps", c, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE,
                         NULL);
            gst_caps_unref(c);
            guint abr = s.aenc.bitRate ? s.aenc.bitRate : 128000;
            if (ac == &kMp3) {
                gst_util_set_object_arg(G_OBJECT(aenc), "target", "bitrate");
                g_object_set(aenc, "bitrate", (gint)MAX(8u, abr / 1000), "cbr", TRUE, NULL);
            } else {
                g_object_set(aenc, "bitrate", (gint)abr, NULL);
            }
            if (!build_audio_capture(r, asrc_el, rate, ch))
                return false;
        }
    }
    r->bus_src = events_add_bus_watch(e, p, on_rec_bus, r, nullptr);
    return r->bus_src != nullptr;
}

/* Whether files can be made in dir: split recordings open their segments
 * only once frames flow, too late for start to report.  A real file is
 * tried, as the permission bits do not bind root. */
bool can_create_in(const char *dir)
{
    if (access(dir, W_OK) != 0) {
        eng_warn("start: folder %s is not writable (%s)", dir, g_strerror(errno));
        return false;
    }
    gchar *probe = g_build_filename(dir, ".capturecore-XXXXXX", NULL);
    int fd = g_mkstemp(probe);
    int err = errno;
    if (fd >= 0) {
        close(fd);
        g_unlink(probe);
    } else {
        eng_warn("start: cannot create files in folder %s (%s)", dir, g_strerror(err));
    }
    g_free(probe);
    return fd >= 0;
}

/* Whether the one-file recording's path can be opened for writing; a file
 * made here is the recording's own (removed if start fails). */
bool can_write_file(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        eng_warn("start: cannot write %s (%s)", path, g_strerror(errno));
        return false;
    }
    close(fd);
    return true;
}

} // namespace

REresult record_check_pair(REuint32 container_code, REuint32 encoder)
{
    const Container *ct = container(container_code);
    const VideoCodec *vc = video_codec(encoder);
    if (!ct || !vc)
        return CC_FAIL;
    return muxer_for(ct, vc) ? CC_OK : CC_FAIL;
}

REresult record_start(Engine *e)
{
    const Settings &s = e->s;
    if (!e->cap) {
        eng_warn("start: the engine is not prepared (call prepare first)");
        return CC_FAIL;
    }
    g_mutex_lock(&e->flock);
    bool source_failed = e->cap_failed;
    g_mutex_unlock(&e->flock);
    if (source_failed) {
        eng_warn("start: the video source has failed; reset or prepare again first");
        return CC_FAIL;
    }
    g_mutex_lock(&e->rlock);
    bool busy = e->rec != nullptr;
    g_mutex_unlock(&e->rlock);
    if (busy) {
        eng_warn("start: a recording is already in progress");
        return CC_FAIL;
    }
    bool split = s.max_size && s.file_count;
    bool rtp = s.rtp_host != nullptr && !split;
    const Container *ct = container(s.container);
    const VideoCodec *vc = video_codec(s.venc.encoderType);
    if (!ct || !vc) {
        eng_warn("start: unknown container %u or encoder %u", s.container, s.venc.encoderType);
        return CC_FAIL;
    }
    const Container *eff = (split || rtp) ? container(5) : ct;
    if (!muxer_for(eff, vc)) {
        eng_warn("start: %s video cannot be muxed into %s", vc->name, eff->name);
        return CC_FAIL;
    }
    if (!rtp && !s.path) {
        eng_warn("start: no output file path set");
        return CC_FAIL;
    }
    if (split && s.rtp_host)
        eng_info("split recording: RTP streaming is off for it");

    Recording *r = new Recording();
    r->e = e;
    r->split = split;
    r->count = s.file_count;
    r->max_size = s.max_size;
    r->max_dur = s.max_duration_us * GST_USECOND;
    if (!rtp) {
        gchar *dir = g_path_get_dirname(s.path);
        bool target_ok = g_file_test(dir, G_FILE_TEST_IS_DIR);
        if (!target_ok)
            eng_warn("start: folder %s does not exist", dir);
        else if (split)
            target_ok = can_create_in(dir);
        if (split) {
            r->seg_dir = dir;
            gchar *base = g_path_get_basename(s.path);
            char *dot = strrchr(base, '.');
            if (dot && dot != base)
                *dot = '\0';
            r->seg_stem = base;
        } else {
            g_free(dir);
            r->path = g_strdup(s.path);
            r->created_file = !g_file_test(s.path, G_FILE_TEST_EXISTS);
            if (target_ok)
                target_ok = can_write_file(r->path);
        }
        if (!target_ok) {
            discard(e, r);
            return CC_FAIL;
        }
    }
    GstCaps *vcaps = capture_video_caps(e);
    r->clock = capture_clock(e, &r->base);
    if (!vcaps || !r->clock) {
        eng_warn("start: the capture pipeline has not negotiated yet");
        if (vcaps)
            gst_caps_unref(vcaps);
        discard(e, r); /* also removes the file the target check made */
        return CC_FAIL;
    }
    bool ok = build_recording(r, ct, vc, vcaps);
    gst_caps_unref(vcaps);
    if (ok && gst_element_set_state(r->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        eng_warn("start: cannot open %s", rtp ? s.rtp_host : s.path);
        ok = false;
    }
    if (ok && r->audio_pipe &&
        gst_element_set_state(r->audio_pipe, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        eng_warn("audio capture does not start; recording without sound");
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
        gst_app_src_end_of_stream(GST_APP_SRC(r->asrc));
    }
    if (!ok) {
        discard(e, r);
        return CC_FAIL;
    }
    if (r->path && r->max_size)
        r->size_timer = events_add_timer(e, 100, on_size_check, r);

    g_mutex_lock(&e->rlock);
    r->gen = ++e->gen;
    e->rec = r;
    e->rstate = REC_RUNNING;
    e->ended_by_engine = false;
    e->peak = 0;
    g_mutex_unlock(&e->rlock);
    if (rtp)
        eng_info("recording: %s %s over RTP to %s:%u", vc->name, "MPEG-TS", s.rtp_host, s.rtp_port);
    else if (split)
        eng_info("recording: %s in MPEG-TS segments of %llu bytes, at most %u, in %s", vc->name,
                (unsigned long long)s.max_size, s.file_count, r->seg_dir);
    else
        eng_info("recording: %s in %s to %s", vc->name, ct->name, s.path);
    return CC_OK;
}

void record_push_video(Engine *e, GstSample *sample, bool deep_copy)
{
    GstBuffer *buf = gst_sample_get_buffer(sample);
    const GstSegment *seg = gst_sample_get_segment(sample);
    if (!buf || !seg)
        return;
    GstClockTime rt = gst_segment_to_running_time(seg, GST_FORMAT_TIME, GST_BUFFER_PTS(buf));
    if (rt == GST_CLOCK_TIME_NONE)
        return;
    GstClockTime out = 0, dur = 0;
    GstElement *vsrc = nullptr;
    guint64 max_queue = 0;
    Recording *r = nullptr;
    g_mutex_lock(&e->rlock);
    r = e->rec;
    if (r && e->rstate == REC_RUNNING && retime(r, r->base + rt, true, &out)) {
        dur = GST_BUFFER_DURATION_IS_VALID(buf) ? GST_BUFFER_DURATION(buf) : r->frame_dur;
        r->last_vpts = out;
        r->media = out + dur;
        if (r->max_dur && r->media > r->max_dur)
            r->media = r->max_dur;
        if (r->cut != GST_CLOCK_TIME_NONE && r->media > r->cut)
            r->media = r->cut;
        r->frames++;
        vsrc = GST_ELEMENT(gst_object_ref(r->vsrc));
        max_queue = r->max_queue;
    }
    g_mutex_unlock(&e->rlock);
    if (!vsrc)
        return;
    if (gst_app_src_get_current_level_bytes(GST_APP_SRC(vsrc)) > max_queue) {
        g_mutex_lock(&e->rlock);
        bool warn = e->rec == r && !r->warned_drop;
        if (warn)
            r->warned_drop = true;
        g_mutex_unlock(&e->rlock);
        if (warn)
            eng_warn("the encoder cannot keep up; dropping frames");
        gst_object_unref(vsrc);
        return;
    }
    /* Camera buffers belong to the driver's small pool: copy them out. */
    GstBuffer *copy = deep_copy ? gst_buffer_copy_deep(buf) : gst_buffer_copy(buf);
    GST_BUFFER_PTS(copy) = out;
    GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(copy) = dur;
    gst_app_src_push_buffer(GST_APP_SRC(vsrc), copy);
    gst_object_unref(vsrc);
}

guint64 record_media_time_ns(Engine *e)
{
    g_mutex_lock(&e->rlock);
    guint64 ns = e->rec ? e->rec->media : e->last_media_ns;
    g_mutex_unlock(&e->rlock);
    return ns;
}

REresult record_pause(Engine *e)
{
    g_mutex_lock(&e->rlock);
    Recording *r = e->rec;
    if (!r || e->rstate != REC_RUNNING) {
        g_mutex_unlock(&e->rlock);
        eng_warn("pause: no recording is running");
        return CC_FAIL;
    }
    r->pause_start = gst_clock_get_time(r->clock);
    e->rstate = REC_PAUSED;
    g_mutex_unlock(&e->rlock);
    eng_info("recording paused");
    return CC_OK;
}

REresult record_resume(Engine *e)
{
    g_mutex_lock(&e->rlock);
    Recording *r = e->rec;
    if (!r || e->rstate != REC_PAUSED) {
        g_mutex_unlock(&e->rlock);
        eng_warn("resume: no recording is paused");
        return CC_FAIL;
    }
    GstClockTime now = gst_clock_get_time(r->clock);
    if (r->t0 != GST_CLOCK_TIME_NONE && now > r->pause_start)
        r->paused_total += now - r->pause_start;
    r->resume_abs = now;
    r->audio_discont = true;
    e->rstate = REC_RUNNING;
    g_mutex_unlock(&e->rlock);
    eng_info("recording resumed");
    return CC_OK;
}

REresult record_finish(Engine *e, bool by_engine, guint gen)
{
    g_mutex_lock(&e->rlock);
    Recording *r = e->rec;
    if (!r || (by_engine && r->gen != gen)) {
        bool ended = e->ended_by_engine;
        g_mutex_unlock(&e->rlock);
        if (by_engine)
            return CC_FAIL;
        if (ended) {
            eng_info("stop: the recording had already ended");
            return CC_OK;
        }
        eng_warn("stop: nothing is recording");
        return CC_FAIL;
    }
    if (e->rstate == REC_STOPPING) {
        /* Someone else is finalising it: return when the file is done. */
        while (e->rec == r)
            g_cond_wait(&e->rcond, &e->rlock);
        g_mutex_unlock(&e->rlock);
        return by_engine ? CC_FAIL : CC_OK;
    }
    e->rstate = REC_STOPPING;
    g_mutex_unlock(&e->rlock);

    if (r->audio_pipe)
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
    if (r->asrc)
        gst_app_src_end_of_stream(GST_APP_SRC(r->asrc));
    gst_app_src_end_of_stream(GST_APP_SRC(r->vsrc));

    gint64 deadline = g_get_monotonic_time() + 20 * G_TIME_SPAN_SECOND;
    g_mutex_lock(&e->rlock);
    while (!r->eos && !r->failed)
        if (!g_cond_wait_until(&e->rcond, &e->rlock, deadline))
            break;
    bool clean = r->eos && !r->failed;
    bool failed = r->failed;
    g_mutex_unlock(&e->rlock);
    if (!clean && !failed)
        eng_warn("recording did not drain in time; the file may lack its last moments");

    gst_element_set_state(r->pipeline, GST_STATE_NULL);
    events_destroy_source_sync(e, r->bus_src);
    events_destroy_source_sync(e, r->audio_bus_src);
    events_destroy_source_sync(e, r->size_timer);
    r->bus_src = r->audio_bus_src = r->size_timer = nullptr;

    g_mutex_lock(&e->rlock);
    e->last_media_ns = r->media;
    e->rec = nullptr;
    e->rstate = REC_IDLE;
    e->ended_by_engine = by_engine;
    g_cond_broadcast(&e->rcond);
    g_mutex_unlock(&e->rlock);

    eng_info("recording finished: %s, %.3f s%s", r->path ? r->path : (r->seg_dir ? r->seg_dir : "RTP"),
            (double)r->media / GST_SECOND, clean ? "" : " (after an error)");
    free_recording(r);
    return clean || by_engine ? CC_OK : CC_FAIL;
}

} // namespace cc
