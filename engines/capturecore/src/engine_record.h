/* What the recording's source files share: the codec and container tables,
 * a recording's state, and the builders of its pipeline. */
#ifndef CAPTURECORE_ENGINE_RECORD_H
#define CAPTURECORE_ENGINE_RECORD_H

#include "engine_private.h"

#include <gst/app/gstappsink.h>
#include <string>

namespace cc {

struct VideoCodec {
    REuint32 code;
    const char *name, *encoder, *parser, *caps;
};

/* alt_muxer writes the same kind of file for streams the first one refuses. */
struct Container {
    REuint32 code;
    const char *name, *muxer, *alt_muxer;
};

struct AudioCodec {
    const char *name, *encoder, *parser, *caps;
};

/* One encoder to try; an empty factory is the MPEG-2 encoder of engine_mpeg2.cpp. */
struct EncoderChoice {
    std::string factory;
    bool hardware;
};

struct Recording {
    Engine *e = nullptr;
    guint gen = 0;
    const Container *ct = nullptr;
    const VideoCodec *vc = nullptr;
    GstCaps *vcaps = nullptr; /* what the capture tap gives */
    GstElement *pipeline = nullptr;
    GstElement *vsrc = nullptr;
    GstElement *asrc = nullptr;
    GstElement *audio_pipe = nullptr;
    GSource *bus_src = nullptr;
    GSource *audio_bus_src = nullptr;
    GSource *size_timer = nullptr;

    /* Video encoders, best first, and the one in the pipeline.  Until it has
     * given its first frame it is on probation: an error or two seconds of
     * silence hand the recording to the next one. */
    std::vector<EncoderChoice> encoders;
    size_t enc_index = 0;
    GstElement *enc = nullptr;
    gint enc_out = 0;      /* atomic: the encoder has given a frame */
    gint64 enc_fed_at = 0; /* first frame into it (monotonic time); 0: none yet */
    bool switching = false;
    GSource *enc_timer = nullptr;

    /* Sound: its codec (null: none) and format; ended when capture failed. */
    const AudioCodec *ac = nullptr;
    int rate = 0, channels = 0;
    bool audio_ended = false;

    bool rtp = false, ts = false; /* streamed; muxed as MPEG-TS */
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

/* engine_build.cpp */
/* Whether one of the factory's pad templates of that direction can carry caps. */
bool factory_pads_take(GstElementFactory *f, GstPadDirection dir, GstCaps *caps);
const VideoCodec *video_codec(REuint32 type);
const Container *container(REuint32 code);
/* The container's muxer that takes this video, or null when none does. */
const char *muxer_for(const Container *ct, const VideoCodec *vc);
/* Picks the sound codec for the recording (r->ac) and makes its source, or
 * null for a recording without sound. */
GstElement *record_audio_source(Recording *r);
/* The small live pipeline that captures sound for the recording. */
bool build_audio_capture(Recording *r, GstElement *src);
/* The recording pipeline with the current encoder: video branch, muxer and
 * sink, sound branch; it is not started. */
bool build_recording(Recording *r);

/* engine_encoder.cpp */
/* Hardware encoders of the codec's format, highest rank first, then the
 * software one; only the software one when KORIN_SOFTWARE_CODECS=1. */
std::vector<EncoderChoice> encoder_choices(const VideoCodec *vc);
/* Makes the current encoder, sets it up and links it between from and to. */
bool add_video_encoder(Recording *r, GstElement *from, GstElement *to, int w, int h, int fn, int fd, int fps);
const char *encoder_name(const EncoderChoice &c);

/* engine_record.cpp: the recording's callbacks the builders connect */
gchar *on_format_location(GstElement *, guint fragment_id, GstSample *first, gpointer data);
GstFlowReturn on_audio_sample(GstAppSink *sink, gpointer data);

} // namespace cc

#endif
