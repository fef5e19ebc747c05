/* The recording pipeline, one builder per branch: the video branch (frames
 * from the capture tap to the encoded stream), the muxer and its sink (a
 * file, segment files or RTP), and the sound branch with the small pipeline
 * that captures the sound. */
#include "engine_record.h"

#include <gst/tag/tag.h>

#include <cmath>

namespace cc {

namespace {

const VideoCodec kVideo[] = {
    {1, "H.264", "x264enc", "h264parse", "video/x-h264"},
    {2, "MPEG-4", "avenc_mpeg4", "mpeg4videoparse", "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"},
    {3, "H.263", "avenc_h263", "h263parse", "video/x-h263, variant=(string)itu"},
    /* Encoded with libavcodec directly (engine_mpeg2.cpp) unless the
     * machine has a hardware encoder. */
    {4, "MPEG-2", nullptr, "mpegvideoparse", "video/mpeg, mpegversion=(int)2, systemstream=(boolean)false"},
};

const Container kContainers[] = {
    /* mp4mux takes no H.263; an ISO file of the 3GPP brand does. */
    {0, "MP4", "mp4mux", "3gppmux"}, {1, "MOV", "qtmux", nullptr}, {2, "MKV", "matroskamux", nullptr},
    {3, "AVI", "avimux", nullptr},   {4, "FLV", "flvmux", nullptr}, {5, "TS", "mpegtsmux", nullptr},
};

const AudioCodec kAac = {"AAC", "avenc_aac", "aacparse", "audio/mpeg, mpegversion=(int)4"};
const AudioCodec kMp3 = {"MP3", "lamemp3enc", "mpegaudioparse", "audio/mpeg, mpegversion=(int)1, layer=(int)3"};

/* H.263 takes only these picture sizes. */
const int kH263Sizes[][2] = {{1408, 1152}, {704, 576}, {352, 288}, {176, 144}, {128, 96}};

/* Whether a muxer's request pads take the given stream. */
bool muxer_takes(const char *muxer, const char *caps_str)
{
    GstElementFactory *f = gst_element_factory_find(muxer);
    if (!f)
        return false;
    GstCaps *want = gst_caps_from_string(caps_str);
    bool ok = want && factory_pads_take(f, GST_PAD_SINK, want);
    if (want)
        gst_caps_unref(want);
    gst_object_unref(f);
    return ok;
}

/* Raw sound as the capture gives it and the encoder takes it. */
GstCaps *s16_caps(int rate, int channels)
{
    GstCaps *c = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout", G_TYPE_STRING,
                                     "interleaved", "rate", G_TYPE_INT, rate, "channels", G_TYPE_INT, channels,
                                     NULL);
    if (channels == 2)
        gst_caps_set_simple(c, "channel-mask", GST_TYPE_BITMASK, (guint64)0x3, NULL);
    return c;
}

/* Appends factory and a capsfilter of caps (taken) after *last. */
bool append_filtered(GstElement *bin, GstElement **last, const char *factory, GstCaps *caps)
{
    GstElement *el = eng_make(bin, factory);
    GstElement *filter = eng_make(bin, "capsfilter");
    if (filter)
        g_object_set(filter, "caps", caps, NULL);
    gst_caps_unref(caps);
    if (!link_chain({*last, el, filter}))
        return false;
    *last = filter;
    return true;
}

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

/* Frames from the capture tap to the encoded stream: conversion, the sizes
 * and rates the codec insists on, the encoder.  Returns the stream's parser. */
GstElement *build_video_branch(Recording *r)
{
    const VideoCodec *vc = r->vc;
    GstElement *p = r->pipeline;
    GstStructure *vs = gst_caps_get_structure(r->vcaps, 0);
    int w = 0, h = 0, fn = 30, fd = 1;
    gst_structure_get_int(vs, "width", &w);
    gst_structure_get_int(vs, "height", &h);
    gst_structure_get_fraction(vs, "framerate", &fn, &fd);
    int fps = fd > 0 ? MAX(1, (int)std::lround((double)fn / fd)) : 30;
    r->frame_dur = gst_util_uint64_scale_int(GST_SECOND, fd > 0 ? fd : 1, fn > 0 ? fn : 30);
    /* Two seconds of raw frames may wait for the encoder; beyond that frames
     * are dropped rather than memory growing without bound. */
    r->max_queue = (guint64)MAX(1, w) * MAX(1, h) * 3 / 2 * (guint64)fps * 2;

    r->vsrc = eng_make(p, "appsrc", "video");
    if (!r->vsrc)
        return nullptr;
    g_object_set(r->vsrc, "caps", r->vcaps, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE,
                 "max-bytes", (guint64)0, NULL);
    GstElement *last = eng_make(p, "videoconvert");
    bool ok = link_chain({r->vsrc, last});
    int tw = w, th = h;
    if (ok && vc->code == 3 && h263_size(&tw, &th)) {
        ok = append_filtered(p, &last, "videoscale",
                             gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, tw, "height", G_TYPE_INT, th,
                                                 NULL));
        eng_info("%s recording scaled from %dx%d to %dx%d", vc->name, w, h, tw, th);
    }
    int rn = fn, rd = fd;
    if (ok && vc->code == 4 && fd > 0 && mpeg2_rate(fn, fd, &rn, &rd)) {
        /* MPEG-2 has a fixed set of frame rates: convert to the nearest. */
        ok = append_filtered(p, &last, "videorate",
                             gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION, rn, rd, NULL));
        fps = MAX(1, (int)std::lround((double)rn / rd));
        eng_info("%s recording at %d/%d frames per second (the source gives %d/%d)", vc->name, rn, rd, fn, fd);
    }
    GstElement *parse = eng_make(p, vc->parser);
    if (!ok || !parse || !add_video_encoder(r, last, parse, tw, th, rn, rd, fps))
        return nullptr;
    if (vc->code == 1 && r->ts)
        g_object_set(parse, "config-interval", -1, NULL); /* SPS/PPS before every key frame */
    return parse;
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

bool is_mp4(const Recording *r)
{
    return r->ct->code <= 1 && !r->ts;
}

/* The file muxer, or the splitter that writes segment files through one. */
GstElement *make_file_muxer(Recording *r)
{
    GstElement *p = r->pipeline;
    if (r->split) {
        GstElement *mux = eng_make(p, "splitmuxsink");
        if (!mux)
            return nullptr;
        /* Muxing adds a few percent to what the splitter counts. */
        guint64 seg = MAX((guint64)64 * 1024, r->max_size / 10 * 9);
        GstElement *seg_sink = mux_file_sink(r->e, nullptr, nullptr, false);
        if (!seg_sink)
            return nullptr;
        g_object_set(mux, "muxer-factory", "mpegtsmux", "max-size-bytes", seg, "sink", seg_sink, NULL);
        g_signal_connect(mux, "format-location-full", G_CALLBACK(on_format_location), r);
        return mux;
    }
    GstElement *mux = eng_make(p, r->ts ? "mpegtsmux" : muxer_for(r->ct, r->vc));
    if (!mux)
        return nullptr;
    if (r->ct->code == 4 && !r->ts) {
        /* Otherwise the header claims 24 hours until it is rewritten at
         * the end, which a killed recording never reaches; players then
         * take the duration from the last tag. */
        g_object_set(mux, "streamable", TRUE, NULL);
    }
    return mux;
}

/* The muxer fed by parse, and what takes its output: the file, or RTP.
 * Returns the muxer. */
GstElement *build_muxer_and_sink(Recording *r, GstElement *parse)
{
    const Settings &s = r->e->s;
    GstElement *p = r->pipeline;
    GstElement *mux = make_file_muxer(r);
    if (!mux)
        return nullptr;
    if (!r->split) {
        apply_output_settings(mux, s, is_mp4(r));
        GstElement *sink = nullptr;
        bool ok;
        if (r->rtp) {
            g_object_set(mux, "alignment", 7, NULL);
            GstElement *pay = eng_make(p, "rtpmp2tpay");
            sink = eng_make(p, "udpsink");
            if (sink)
                g_object_set(sink, "host", s.rtp_host, "port", (gint)s.rtp_port, "sync", FALSE, "async", FALSE,
                             NULL);
            ok = link_chain({mux, pay, sink});
        } else {
            sink = mux_file_sink(r->e, p, r->path, mux_make_fragmented(mux));
            ok = link_chain({mux, sink});
        }
        if (!ok)
            return nullptr;
    }
    if (!link_to_mux(parse, mux, true, r->split)) {
        eng_warn("cannot link the %s stream to the muxer", r->vc->name);
        return nullptr;
    }
    return mux;
}

/* Sound pushed by on_audio_sample, encoded into the muxer. */
bool build_audio_branch(Recording *r, GstElement *mux)
{
    const Settings &s = r->e->s;
    const AudioCodec *ac = r->ac;
    GstElement *p = r->pipeline;
    r->asrc = eng_make(p, "appsrc", "audio");
    GstElement *aconv = eng_make(p, "audioconvert");
    GstElement *aenc = eng_make(p, ac->encoder);
    GstElement *aparse = eng_make(p, ac->parser);
    if (!r->asrc || !link_chain({r->asrc, aconv, aenc, aparse}) || !link_to_mux(aparse, mux, false, r->split)) {
        eng_warn("cannot build the %s sound branch", ac->name);
        return false;
    }
    GstCaps *c = s16_caps(r->rate, r->channels);
    g_object_set(r->asrc, "caps", c, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE, NULL);
    gst_caps_unref(c);
    guint abr = s.aenc.bitRate ? s.aenc.bitRate : 128000;
    if (ac == &kMp3) {
        gst_util_set_object_arg(G_OBJECT(aenc), "target", "bitrate");
        g_object_set(aenc, "bitrate", (gint)MAX(8u, abr / 1000), "cbr", TRUE, NULL);
    } else {
        g_object_set(aenc, "bitrate", (gint)abr, NULL);
    }
    return true;
}

} // namespace

bool factory_pads_take(GstElementFactory *f, GstPadDirection dir, GstCaps *caps)
{
    bool ok = false;
    for (const GList *l = gst_element_factory_get_static_pad_templates(f); l && !ok; l = l->next) {
        GstStaticPadTemplate *t = static_cast<GstStaticPadTemplate *>(l->data);
        if (t->direction != dir)
            continue;
        GstCaps *tc = gst_static_pad_template_get_caps(t);
        ok = gst_caps_can_intersect(tc, caps);
        gst_caps_unref(tc);
    }
    return ok;
}

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

const char *muxer_for(const Container *ct, const VideoCodec *vc)
{
    if (muxer_takes(ct->muxer, vc->caps))
        return ct->muxer;
    if (ct->alt_muxer && muxer_takes(ct->alt_muxer, vc->caps))
        return ct->alt_muxer;
    return nullptr;
}

GstElement *record_audio_source(Recording *r)
{
    const Settings &s = r->e->s;
    GstElement *src = nullptr;
    if (s.audio_source == 1)
        return nullptr;
    if (s.audio_source == 2) {
        src = gst_element_factory_make("audiotestsrc", nullptr);
        if (!src)
            return nullptr;
        g_object_set(src, "is-live", TRUE, "volume", 0.3, NULL);
        eng_info("audio source: test tone");
    } else if (source_probe_audio(&src)) {
        eng_info("audio source: %s", GST_OBJECT_NAME(src));
    } else {
        eng_info("no audio capture device; recording without sound");
        return nullptr;
    }
    const AudioCodec *ac =
        s.aenc.encoderType == 2 || (s.aenc.encoderType == 0 && r->ct->code == 3 && !r->ts) ? &kMp3 : &kAac;
    const char *muxname = r->ts ? "mpegtsmux" : muxer_for(r->ct, r->vc);
    if (!muxer_takes(muxname, ac->caps)) {
        eng_info("%s does not take %s sound; recording without sound", muxname, ac->name);
        gst_object_unref(src);
        return nullptr;
    }
    r->ac = ac;
    r->rate = s.sample_rate ? (int)s.sample_rate : 44100;
    r->channels = s.channels ? (int)s.channels : 2;
    return src;
}

bool build_audio_capture(Recording *r, GstElement *src)
{
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
    GstCaps *c = s16_caps(r->rate, r->channels);
    g_object_set(filter, "caps", c, NULL);
    gst_caps_unref(c);
    g_object_set(sink, "sync", FALSE, "async", FALSE, NULL);
    GstAppSinkCallbacks cbs = {};
    cbs.new_sample = on_audio_sample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &cbs, r, nullptr);
    /* On the capture pipeline's clock and base time, so both streams share one timeline. */
    gst_pipeline_use_clock(GST_PIPELINE(r->audio_pipe), r->clock);
    gst_element_set_start_time(r->audio_pipe, GST_CLOCK_TIME_NONE);
    gst_element_set_base_time(r->audio_pipe, r->base);
    return true;
}

bool build_recording(Recording *r)
{
    r->pipeline = gst_pipeline_new("capturecore-record");
    if (!r->pipeline)
        return false;
    GstElement *parse = build_video_branch(r);
    GstElement *mux = parse ? build_muxer_and_sink(r, parse) : nullptr;
    return mux && (!r->ac || r->audio_ended || build_audio_branch(r, mux));
}

} // namespace cc
