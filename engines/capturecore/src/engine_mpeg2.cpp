/* MPEG-2 video through libavcodec.  GStreamer 1.22.0's own wrapper of this
 * encoder refuses every frame rate, and mpeg2enc is several times too slow
 * for live pictures and keeps megabytes of every recording's pictures for
 * good; so raw frames leave the recording pipeline at an appsink, are
 * encoded here on its streaming thread, and come back through an appsrc. */
#include "engine_private.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace cc {

namespace {

/* The frame rates an MPEG-2 sequence header can name. */
const int kRates[][2] = {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1}};

struct Mpeg2 {
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *pkt = nullptr;
    GstElement *out = nullptr; /* the appsrc; its bin holds it */
    GstVideoInfo info;
    gint64 last_pts = -1;
};

void mpeg2_free(gpointer data)
{
    Mpeg2 *m = static_cast<Mpeg2 *>(data);
    avcodec_free_context(&m->ctx);
    av_frame_free(&m->frame);
    av_packet_free(&m->pkt);
    delete m;
}

GstClockTime ticks_to_ns(const Mpeg2 *m, int64_t t)
{
    return gst_util_uint64_scale((guint64)t, (guint64)m->ctx->time_base.num * GST_SECOND,
                                 (guint64)m->ctx->time_base.den);
}

/* Hands every finished picture to the appsrc. */
bool drain(Mpeg2 *m)
{
    for (;;) {
        int rc = avcodec_receive_packet(m->ctx, m->pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return false;
        GstBuffer *b = gst_buffer_new_memdup(m->pkt->data, (gsize)m->pkt->size);
        GST_BUFFER_PTS(b) = ticks_to_ns(m, m->pkt->pts);
        GST_BUFFER_DTS(b) = ticks_to_ns(m, m->pkt->dts);
        GST_BUFFER_DURATION(b) = ticks_to_ns(m, 1);
        if (!(m->pkt->flags & AV_PKT_FLAG_KEY))
            GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DELTA_UNIT);
        av_packet_unref(m->pkt);
        if (gst_app_src_push_buffer(GST_APP_SRC(m->out), b) != GST_FLOW_OK)
            return false;
    }
}

GstFlowReturn on_raw_frame(GstAppSink *sink, gpointer data)
{
    Mpeg2 *m = static_cast<Mpeg2 *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstBuffer *buf = gst_sample_get_buffer(sample);
    GstVideoFrame vf;
    bool ok = buf && GST_BUFFER_PTS_IS_VALID(buf) && gst_video_frame_map(&vf, &m->info, buf, GST_MAP_READ);
    if (ok) {
        gint64 pts = (gint64)gst_util_uint64_scale_round(GST_BUFFER_PTS(buf), (guint64)m->ctx->time_base.den,
                                                         (guint64)m->ctx->time_base.num * GST_SECOND);
        if (pts <= m->last_pts)
            pts = m->last_pts + 1; /* the encoder needs rising timestamps */
        m->last_pts = pts;
        for (int i = 0; i < 3; i++) {
            m->frame->data[i] = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&vf, i));
            m->frame->linesize[i] = GST_VIDEO_FRAME_PLANE_STRIDE(&vf, i);
        }
        m->frame->pts = pts;
        /* A frame that is not reference counted is copied by the encoder. */
        ok = avcodec_send_frame(m->ctx, m->frame) == 0;
        gst_video_frame_unmap(&vf);
        ok = ok && drain(m);
    }
    gst_sample_unref(sample);
    if (!ok)
        eng_warn("MPEG-2 encoding failed");
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

void on_raw_eos(GstAppSink *, gpointer data)
{
    Mpeg2 *m = static_cast<Mpeg2 *>(data);
    if (avcodec_send_frame(m->ctx, nullptr) != 0 || !drain(m))
        eng_warn("MPEG-2 encoding did not finish cleanly");
    gst_app_src_end_of_stream(GST_APP_SRC(m->out));
}

bool open_codec(Mpeg2 *m, int w, int h, int fn, int fd, guint bitrate, guint gop)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    m->ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    m->frame = av_frame_alloc();
    m->pkt = av_packet_alloc();
    if (!m->ctx || !m->frame || !m->pkt)
        return false;
    m->ctx->width = w;
    m->ctx->height = h;
    m->ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    m->ctx->time_base = AVRational{fd, fn};
    m->ctx->framerate = AVRational{fn, fd};
    m->ctx->bit_rate = bitrate;
    m->ctx->gop_size = (int)gop;
    m->ctx->max_b_frames = 0; /* nothing held back: a stop ends with the last picture */
    m->ctx->thread_count = 1;
    m->frame->width = w;
    m->frame->height = h;
    m->frame->format = AV_PIX_FMT_YUV420P;
    int rc = avcodec_open2(m->ctx, codec, nullptr);
    if (rc < 0) {
        char msg[128];
        av_strerror(rc, msg, sizeof msg);
        eng_warn("the MPEG-2 encoder does not open for %dx%d at %d/%d: %s", w, h, fn, fd, msg);
        return false;
    }
    return true;
}

} // namespace

bool mpeg2_rate(int fn, int fd, int *rn, int *rd)
{
    double want = (double)fn / fd, best = -1;
    for (const auto &r : kRates) {
        if ((gint64)r[0] * fd == (gint64)fn * r[1])
            return false;
        double diff = std::abs((double)r[0] / r[1] - want);
        if (best < 0 || diff < best) {
            best = diff;
            *rn = r[0];
            *rd = r[1];
        }
    }
    return true;
}

bool mpeg2_add_encoder(GstElement *bin, int w, int h, int fn, int fd, guint bitrate, guint gop, GstElement **in,
                       GstElement **out)
{
    *in = eng_make(bin, "appsink");
    *out = eng_make(bin, "appsrc");
    if (!*in || !*out)
        return false;
    Mpeg2 *m = new Mpeg2();
    m->out = *out;
    gst_video_info_set_format(&m->info, GST_VIDEO_FORMAT_I420, (guint)w, (guint)h);
    if (!open_codec(m, w, h, fn, fd, bitrate, gop)) {
        mpeg2_free(m);
        return false;
    }
    GstCaps *raw = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, w,
                                       "height", G_TYPE_INT, h, NULL);
    GstCaps *es = gst_caps_new_simple("video/mpeg", "mpegversion", G_TYPE_INT, 2, "systemstream", G_TYPE_BOOLEAN,
                                      FALSE, "width", G_TYPE_INT, w, "height", G_TYPE_INT, h, "framerate",
                                      GST_TYPE_FRACTION, fn, fd, NULL);
    g_object_set(*in, "caps", raw, "sync", FALSE, "async", FALSE, NULL);
    g_object_set(*out, "caps", es, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE, NULL);
    gst_caps_unref(raw);
    gst_caps_unref(es);
    GstAppSinkCallbacks cbs = {};
    cbs.new_sample = on_raw_frame;
    cbs.eos = on_raw_eos;
    gst_app_sink_set_callbacks(GST_APP_SINK(*in), &cbs, m, mpeg2_free);
    return true;
}

} // namespace cc
