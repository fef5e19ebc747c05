/* Recording: a pipeline of its own fed with frames from the capture tap (and
 * sound from a small audio capture pipeline), with timestamps rewritten so
 * the file starts at zero and pauses leave neither gaps nor frozen frames.
 * Being a separate, non-live pipeline, it can be drained with EOS and
 * finalised without disturbing the preview, and its errors stay its own.
 * An encoder that does not start hands the recording to the next one. */
#include "engine_record.h"

#include <gst/app/gstappsrc.h>
#include <glib/gstdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace cc {
namespace {

void free_recording(Recording *r)
{
    if (!r)
        return;
    if (r->audio_pipe)
        gst_object_unref(r->audio_pipe);
    if (r->clock)
        gst_object_unref(r->clock);
    if (r->vcaps)
        gst_caps_unref(r->vcaps);
    g_free(r->path);
    g_free(r->seg_dir);
    g_free(r->seg_stem);
    delete r;
}

/* Stops and releases the recording pipeline and what watches it. */
void drop_pipeline(Recording *r)
{
    if (r->pipeline)
        gst_element_set_state(r->pipeline, GST_STATE_NULL);
    events_destroy_source_sync(r->e, r->bus_src);
    events_destroy_source_sync(r->e, r->enc_timer);
    if (r->pipeline)
        gst_object_unref(r->pipeline);
    r->bus_src = r->enc_timer = nullptr;
    r->pipeline = r->vsrc = r->asrc = r->enc = nullptr;
}

/* Stops what runs beside the recording pipeline: the sound capture and the size check. */
void stop_helpers(Recording *r)
{
    if (r->audio_pipe)
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
    events_destroy_source_sync(r->e, r->audio_bus_src);
    events_destroy_source_sync(r->e, r->size_timer);
    r->audio_bus_src = r->size_timer = nullptr;
}

/* Tears down a recording that never became the engine's current one. */
void discard(Recording *r)
{
    stop_helpers(r);
    drop_pipeline(r);
    if (r->created_file && r->path)
        g_unlink(r->path);
    free_recording(r);
}

const char *record_target(const Recording *r)
{
    return r->path ? r->path : (r->seg_dir ? r->seg_dir : r->e->s.rtp_host);
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

/* Sound capture failed: the recording goes on without it.  The muxer waits
 * for every stream; ending this one lets video go on. */
void end_sound(Recording *r)
{
    g_mutex_lock(&r->e->rlock);
    r->audio_ended = true;
    GstElement *asrc = r->asrc && !r->switching ? GST_ELEMENT(gst_object_ref(r->asrc)) : nullptr;
    g_mutex_unlock(&r->e->rlock);
    if (asrc) {
        gst_app_src_end_of_stream(GST_APP_SRC(asrc));
        gst_object_unref(asrc);
    }
}

gboolean on_rec_bus(GstBus *, GstMessage *msg, gpointer data);
gboolean on_encoder_watch(gpointer data);

bool has_next_encoder(const Recording *r)
{
    return r->enc_index + 1 < r->encoders.size();
}

/* Drops the current encoder for this recording, with one log line. */
void next_encoder(Recording *r, const char *why)
{
    eng_warn("video encoder %s %s; recording with %s", encoder_name(r->encoders[r->enc_index]), why,
             encoder_name(r->encoders[r->enc_index + 1]));
    drop_pipeline(r);
    r->enc_index++;
}

/* Takes the first error off the pipeline's bus, or null. */
GstMessage *take_error(GstElement *pipeline)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = bus ? gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR) : nullptr;
    if (bus)
        gst_object_unref(bus);
    return msg;
}

/* "source: message" of an error, or of none. */
gchar *error_text(GstMessage *msg)
{
    if (!msg)
        return g_strdup("no error posted");
    GError *err = nullptr;
    gst_message_parse_error(msg, &err, nullptr);
    gchar *text = g_strdup_printf("%s: %s", GST_MESSAGE_SRC_NAME(msg), err ? err->message : "?");
    g_clear_error(&err);
    return text;
}

/* Whether an error came from the encoder, or from the source feeding it
 * (where an encoder that refuses the pictures shows as a failed flow). */
bool from_encoder(const Recording *r, GstMessage *msg)
{
    GstObject *src = msg ? GST_MESSAGE_SRC(msg) : nullptr;
    return r->enc && src && (src == GST_OBJECT(r->vsrc) || gst_object_has_as_ancestor(src, GST_OBJECT(r->enc)));
}

/* Builds the recording pipeline with the current encoder and starts it; an
 * encoder that cannot be set up or refuses to start gives way to the next.
 * On failure the caller drops what was built. */
bool start_pipeline(Recording *r)
{
    for (;;) {
        bool built = build_recording(r);
        if (built && gst_element_set_state(r->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
            break;
        GstMessage *msg = r->pipeline ? take_error(r->pipeline) : nullptr;
        /* An element that fails a later state change than the first keeps
         * that as its last answer. */
        bool refused = from_encoder(r, msg) ||
                       (r->enc && gst_element_get_state(r->enc, nullptr, nullptr, 0) == GST_STATE_CHANGE_FAILURE);
        bool retry = (refused || !built) && has_next_encoder(r);
        gchar *err = error_text(msg);
        if (msg)
            gst_message_unref(msg);
        if (retry) {
            gchar *why = g_strdup_printf("does not start (%s)", built ? err : "it cannot be set up");
            next_encoder(r, why);
            g_free(why);
        } else if (built) {
            eng_warn("cannot open %s: %s", record_target(r), err);
        }
        g_free(err);
        if (!retry)
            return false;
    }
    r->bus_src = events_add_bus_watch(r->e, r->pipeline, on_rec_bus, r, nullptr);
    if (has_next_encoder(r))
        r->enc_timer = events_add_timer(r->e, 100, on_encoder_watch, r);
    return r->bus_src != nullptr;
}

/* The new encoder's first frame starts the file anew: what went into the
 * failed one is lost.  Caller holds rlock. */
void restart_timeline(Recording *r)
{
    r->t0 = r->last_vpts = r->last_apts = r->cut = GST_CLOCK_TIME_NONE;
    r->paused_total = r->resume_abs = 0;
    r->media = 0;
    r->frames = 0;
    r->size_seen = 0;
    r->size_seen_at = 0;
    r->warned_drop = false;
}

/* Hands the running recording to the next encoder, on the bus thread, onto
 * the same file.  False when the recording is being stopped. */
bool switch_encoder(Recording *r, const char *why)
{
    Engine *e = r->e;
    g_mutex_lock(&e->rlock);
    r->switching = e->rec == r && e->rstate != REC_STOPPING;
    if (r->switching)
        restart_timeline(r);
    g_mutex_unlock(&e->rlock);
    if (!r->switching)
        return false;
    next_encoder(r, why);
    bool ok = start_pipeline(r);
    if (!ok)
        drop_pipeline(r);
    g_mutex_lock(&e->rlock);
    r->failed = !ok;
    r->switching = false;
    g_cond_broadcast(&e->rcond);
    g_mutex_unlock(&e->rlock);
    if (!ok)
        events_post_finish(e, RE_EVENT_ERROR, r->gen);
    return true;
}

/* An encoder that has taken frames for 2 s without giving one has failed to
 * start; a pause is no silence. */
gboolean on_encoder_watch(gpointer data)
{
    Recording *r = static_cast<Recording *>(data);
    if (g_atomic_int_get(&r->enc_out))
        return G_SOURCE_REMOVE;
    gint64 now = g_get_monotonic_time();
    g_mutex_lock(&r->e->rlock);
    if (r->e->rstate == REC_PAUSED && r->enc_fed_at)
        r->enc_fed_at = now;
    bool silent = r->enc_fed_at && now - r->enc_fed_at >= 2 * G_USEC_PER_SEC;
    g_mutex_unlock(&r->e->rlock);
    return silent && switch_encoder(r, "gives no frame within 2 s") ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

/* An error of the encoder before its first frame fails it when another
 * is left to try. */
bool encoder_failed(Recording *r, GstMessage *msg)
{
    if (g_atomic_int_get(&r->enc_out) || !has_next_encoder(r) || !from_encoder(r, msg))
        return false;
    gchar *err = error_text(msg);
    gchar *why = g_strdup_printf("fails before its first frame (%s)", err);
    bool switched = switch_encoder(r, why);
    g_free(why);
    g_free(err);
    return switched;
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
        if (encoder_failed(r, msg))
            break;
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
        end_sound(r);
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

} // namespace

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

namespace {

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

} // namespace

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
    if (e->rec == r && e->rstate == REC_RUNNING && !r->switching && retime(r, r->base + rt, false, &out)) {
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

namespace {

/* Starts capturing sound for the recording; capture that does not start
 * leaves the recording without sound. */
bool start_sound(Recording *r, GstElement *src)
{
    if (!build_audio_capture(r, src))
        return false;
    r->audio_bus_src = events_add_bus_watch(r->e, r->audio_pipe, on_audio_bus, r, nullptr);
    if (!r->audio_bus_src)
        return false;
    if (gst_element_set_state(r->audio_pipe, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        eng_warn("audio capture does not start; recording without sound");
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
        end_sound(r);
    }
    return true;
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
    r->ct = ct;
    r->vc = vc;
    r->split = split;
    r->rtp = rtp;
    r->ts = split || rtp || ct->code == 5;
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
            discard(r);
            return CC_FAIL;
        }
    }
    r->vcaps = capture_video_caps(e);
    r->clock = capture_clock(e, &r->base);
    if (!r->vcaps || !r->clock) {
        eng_warn("start: the capture pipeline has not negotiated yet");
        discard(r); /* also removes the file the target check made */
        return CC_FAIL;
    }
    r->encoders = encoder_choices(vc);
    GstElement *sound = record_audio_source(r);
    bool ok = start_pipeline(r);
    if (!ok && sound)
        gst_object_unref(sound);
    if (!ok || (sound && !start_sound(r, sound))) {
        discard(r);
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
    if (r && e->rstate == REC_RUNNING && !r->switching && retime(r, r->base + rt, true, &out)) {
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
    /* A switch of encoders owns the pipeline until it is done. */
    while (r->switching)
        g_cond_wait(&e->rcond, &e->rlock);
    g_mutex_unlock(&e->rlock);

    if (r->audio_pipe)
        gst_element_set_state(r->audio_pipe, GST_STATE_NULL);
    if (r->asrc)
        gst_app_src_end_of_stream(GST_APP_SRC(r->asrc));
    if (r->vsrc)
        gst_app_src_end_of_stream(GST_APP_SRC(r->vsrc));

    /* An encoder yet to give its first frame gets no longer than its 2 s of probation. */
    gint64 deadline = g_get_monotonic_time() + (g_atomic_int_get(&r->enc_out) ? 20 : 2) * G_TIME_SPAN_SECOND;
    g_mutex_lock(&e->rlock);
    while (!r->eos && !r->failed)
        if (!g_cond_wait_until(&e->rcond, &e->rlock, deadline))
            break;
    bool clean = r->eos && !r->failed;
    bool failed = r->failed;
    g_mutex_unlock(&e->rlock);
    if (!clean && !failed)
        eng_warn("recording did not drain in time; the file may lack its last moments");

    drop_pipeline(r);
    stop_helpers(r);

    g_mutex_lock(&e->rlock);
    e->last_media_ns = r->media;
    e->rec = nullptr;
    e->rstate = REC_IDLE;
    e->ended_by_engine = by_engine;
    g_cond_broadcast(&e->rcond);
    g_mutex_unlock(&e->rlock);

    eng_info("recording finished: %s, %.3f s%s", r->rtp ? "RTP" : record_target(r), (double)r->media / GST_SECOND,
             clean ? "" : " (after an error)");
    free_recording(r);
    return clean || by_engine ? CC_OK : CC_FAIL;
}

} // namespace cc
