/* The video encoder: which ones to try (a board's hardware encoders first,
 * then the software one), the encoder settings mapped onto each one's own
 * properties, and the probes that tell whether it has started. */
#include "engine_record.h"

#include <gst/video/video.h>
#include <string.h>

namespace cc {

namespace {

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

/* Adds a probe on the element's pad; false when it has no such pad. */
bool probe_pad(GstElement *el, const char *pad, GstPadProbeType type, GstPadProbeCallback fn, gpointer data,
               GDestroyNotify notify = nullptr)
{
    GstPad *p = gst_element_get_static_pad(el, pad);
    gulong id = p ? gst_pad_add_probe(p, type, fn, data, notify) : 0;
    if (p)
        gst_object_unref(p);
    else if (notify)
        notify(data);
    return id != 0;
}

void add_ts_carry(GstElement *enc)
{
    TsCarry *c = new TsCarry();
    g_mutex_init(&c->m);
    g_queue_init(&c->q);
    g_object_set_data_full(G_OBJECT(enc), "cc-ts-carry", c, ts_carry_free);
    probe_pad(enc, "sink", GST_PAD_PROBE_TYPE_BUFFER, ts_carry_in, c);
    probe_pad(enc, "src", (GstPadProbeType)(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
              ts_carry_out, c);
}

/* How today's software encoders are tuned for live pictures. */
void tune_software(GstElement *enc, const VideoCodec *vc)
{
    if (vc->code == 1) {
        gst_util_set_object_arg(G_OBJECT(enc), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(enc), "speed-preset", "ultrafast");
    } else {
        g_object_set(enc, "max-bframes", 0, NULL);
        add_ts_carry(enc);
    }
}

/* Encoders name the same settings differently; these are the common names.
 * Key-frame intervals are counted in frames. */
const char *const kBitRateNames[] = {"bitrate", "target-bitrate", "bps", nullptr};
const char *const kKeyIntervalNames[] = {"key-int-max",     "gop-size", "iframeinterval", "keyframe-period",
                                         "interval-intraframes", "gop", nullptr};

/* The first of names that the element has as a writable integer, or null. */
GParamSpec *integer_property(GstElement *el, const char *const *names)
{
    for (; *names; names++) {
        GParamSpec *ps = g_object_class_find_property(G_OBJECT_GET_CLASS(el), *names);
        if (ps && (ps->flags & G_PARAM_WRITABLE) &&
            (G_IS_PARAM_SPEC_INT(ps) || G_IS_PARAM_SPEC_UINT(ps) || G_IS_PARAM_SPEC_LONG(ps) ||
             G_IS_PARAM_SPEC_ULONG(ps) || G_IS_PARAM_SPEC_INT64(ps) || G_IS_PARAM_SPEC_UINT64(ps)))
            return ps;
    }
    return nullptr;
}

/* Sets the property to v, brought into its range. */
void set_integer(GstElement *el, GParamSpec *ps, gint64 v)
{
    GValue from = G_VALUE_INIT, to = G_VALUE_INIT;
    g_value_init(&from, G_TYPE_INT64);
    g_value_set_int64(&from, v);
    g_value_init(&to, ps->value_type);
    if (g_value_transform(&from, &to)) {
        g_param_value_validate(ps, &to);
        g_object_set_property(G_OBJECT(el), ps->name, &to);
    }
    g_value_unset(&from);
    g_value_unset(&to);
}

/* Whether a bit rate property counts kbit/s: its description says so, or,
 * saying nothing of units, its default is too small for bit/s. */
bool counts_kbit(GParamSpec *ps)
{
    const char *blurb = g_param_spec_get_blurb(ps);
    gchar *low = g_ascii_strdown(blurb ? blurb : "", -1);
    bool kbit = strstr(low, "kbit") || strstr(low, "kbps") || strstr(low, "kb/s");
    bool said = kbit || strstr(low, "bit") || strstr(low, "bps");
    g_free(low);
    if (said)
        return kbit;
    GValue def = G_VALUE_INIT;
    g_value_init(&def, G_TYPE_INT64);
    bool small = g_value_transform(g_param_spec_get_default_value(ps), &def) && g_value_get_int64(&def) < 100000;
    g_value_unset(&def);
    return small;
}

struct KeyRequests {
    guint every, frames;
    bool refused;
};

/* For an encoder without a key-frame interval of its own: a key frame is
 * asked for every so many frames, so split segments and seeks still find
 * one close by. */
GstPadProbeReturn request_key_frame(GstPad *pad, GstPadProbeInfo *, gpointer data)
{
    KeyRequests *k = static_cast<KeyRequests *>(data);
    if (k->frames++ % k->every != 0)
        return GST_PAD_PROBE_OK;
    GstEvent *ev = gst_video_event_new_downstream_force_key_unit(GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE,
                                                                 GST_CLOCK_TIME_NONE, TRUE, k->frames / k->every);
    if (!gst_pad_send_event(pad, ev) && !k->refused) {
        k->refused = true;
        eng_warn("the video encoder takes no key-frame requests; split segments may exceed their size");
    }
    return GST_PAD_PROBE_OK;
}

/* Bit rate and key-frame interval onto the encoder's own properties. */
void apply_encoder_settings(GstElement *enc, const char *name, guint bitrate, guint gop)
{
    GParamSpec *ps = integer_property(enc, kBitRateNames);
    if (ps)
        set_integer(enc, ps, counts_kbit(ps) ? bitrate / 1000 : bitrate);
    else
        eng_info("video encoder %s has no bit rate setting; it keeps its own", name);
    ps = integer_property(enc, kKeyIntervalNames);
    if (ps) {
        set_integer(enc, ps, gop);
        return;
    }
    eng_info("video encoder %s has no key-frame interval setting; a key frame is asked for every %u frames", name,
             gop);
    KeyRequests *k = g_new0(KeyRequests, 1);
    k->every = gop;
    probe_pad(enc, "sink", GST_PAD_PROBE_TYPE_BUFFER, request_key_frame, k, g_free);
}

GstPadProbeReturn on_first_frame_in(GstPad *, GstPadProbeInfo *, gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    g_mutex_lock(&r->e->rlock);
    r->enc_fed_at = g_get_monotonic_time();
    g_mutex_unlock(&r->e->rlock);
    return GST_PAD_PROBE_REMOVE;
}

GstPadProbeReturn on_first_frame_out(GstPad *, GstPadProbeInfo *, gpointer data)
{
    g_atomic_int_set(&static_cast<Recording *>(data)->enc_out, 1);
    return GST_PAD_PROBE_REMOVE;
}

/* Notes when the encoder takes its first frame and when it gives one; one
 * whose pads cannot be watched is taken as started. */
void watch_first_frames(Recording *r, GstElement *enc)
{
    r->enc_fed_at = 0;
    bool watched = probe_pad(enc, "sink", GST_PAD_PROBE_TYPE_BUFFER, on_first_frame_in, r) &&
                   probe_pad(enc, "src", GST_PAD_PROBE_TYPE_BUFFER, on_first_frame_out, r);
    g_atomic_int_set(&r->enc_out, watched ? 0 : 1);
}

/* Whether the factory is a hardware encoder that can give the wanted stream. */
bool hardware_encoder_for(GstElementFactory *f, GstCaps *want)
{
    const char *klass = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS);
    return klass && strstr(klass, "Hardware") && factory_pads_take(f, GST_PAD_SRC, want);
}

GstElement *i420_filter(GstElement *bin)
{
    GstElement *f = eng_make(bin, "capsfilter");
    if (f) {
        GstCaps *c = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", NULL);
        g_object_set(f, "caps", c, NULL);
        gst_caps_unref(c);
    }
    return f;
}

} // namespace

std::vector<EncoderChoice> encoder_choices(const VideoCodec *vc)
{
    std::vector<EncoderChoice> out;
    GstCaps *want = g_strcmp0(g_getenv("KORIN_SOFTWARE_CODECS"), "1") ? gst_caps_from_string(vc->caps) : nullptr;
    if (want) {
        /* Listed by rank, highest first. */
        GList *fs = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER, GST_RANK_NONE);
        for (GList *l = fs; l; l = l->next)
            if (hardware_encoder_for(GST_ELEMENT_FACTORY(l->data), want))
                out.push_back({gst_plugin_feature_get_name(l->data), true});
        gst_plugin_feature_list_free(fs);
        gst_caps_unref(want);
    }
    out.push_back({vc->encoder ? vc->encoder : "", false});
    return out;
}

const char *encoder_name(const EncoderChoice &c)
{
    return c.factory.empty() ? "libavcodec mpeg2video" : c.factory.c_str();
}

bool add_video_encoder(Recording *r, GstElement *from, GstElement *to, int w, int h, int fn, int fd, int fps)
{
    const Settings &s = r->e->s;
    const EncoderChoice &c = r->encoders[r->enc_index];
    GstElement *p = r->pipeline;
    guint bitrate = encoder_bitrate(r->vc, s, w, h, fps), gop = key_interval(s, fps);
    r->enc = nullptr;
    g_atomic_int_set(&r->enc_out, 1);
    eng_info("video encoder: %s%s", encoder_name(c), c.hardware ? " (hardware)" : "");
    if (c.factory.empty()) {
        GstElement *in = nullptr, *out = nullptr;
        return mpeg2_add_encoder(p, w, h, fn, fd, bitrate, gop, &in, &out) && link_chain({from, i420_filter(p), in}) &&
               link_chain({out, to});
    }
    GstElement *enc = eng_make(p, c.factory.c_str());
    /* A hardware encoder takes the raw format it prefers. */
    if (!enc || !(c.hardware ? link_chain({from, enc, to}) : link_chain({from, i420_filter(p), enc, to})))
        return false;
    apply_encoder_settings(enc, c.factory.c_str(), bitrate, gop);
    if (!c.hardware)
        tune_software(enc, r->vc);
    watch_first_frames(r, enc);
    r->enc = enc;
    return true;
}

} // namespace cc
