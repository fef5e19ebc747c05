/* The C entry point and the RecorderEngine table: argument checks, locking,
 * and the order of calls.  The work itself is in the other files. */
#include "engine_private.h"

#include <string.h>

namespace cc {

namespace {

static_assert(sizeof(RERawVideoSettings) == 16, "RERawVideoSettings layout");
static_assert(sizeof(REVideoRect) == 16, "REVideoRect layout");
static_assert(sizeof(REAudioEncoderSettings) == 40, "REAudioEncoderSettings layout");
static_assert(sizeof(REVideoEncoderSettings) == 52, "REVideoEncoderSettings layout");
static_assert(sizeof(REOutputFileSettings) == 72, "REOutputFileSettings layout");

const REuint32 kSampleRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
const REuint32 kChannels[] = {1, 2};
const gsize kMaxPath = 4096;
const REuint32 kMaxDim = 8192;

Engine *engine_of(RecorderEngineHandle h, const char *what)
{
    RecorderEngine *t = static_cast<RecorderEngine *>(h);
    Engine *e = t ? static_cast<Engine *>(t->pData) : nullptr;
    if (!e)
        eng_warn("%s: called without a valid engine", what);
    return e;
}

/* Control calls hold the engine lock; stop and get_media_time do not, so they
 * work from any thread, the event handler included. */
struct Locked {
    Engine *e;
    explicit Locked(Engine *en) : e(en) { g_mutex_lock(&e->lock); }
    ~Locked() { g_mutex_unlock(&e->lock); }
};

#define ENGINE_OR_FAIL(name)                                                                       \
    Engine *e = engine_of(h, name);                                                                \
    if (!e)                                                                                        \
        return CC_FAIL

bool recording_active(Engine *e)
{
    g_mutex_lock(&e->rlock);
    bool busy = e->rec != nullptr;
    g_mutex_unlock(&e->rlock);
    return busy;
}

bool in_list(REuint32 v, const REuint32 *list, gsize n)
{
    for (gsize i = 0; i < n; i++)
        if (list[i] == v)
            return true;
    return false;
}

bool path_ok(const REchar *path, const char *what)
{
    if (!path || !*path) {
        eng_warn("%s: empty path", what);
        return false;
    }
    if (strlen(path) >= kMaxPath) {
        eng_warn("%s: path longer than %zu bytes", what, kMaxPath - 1);
        return false;
    }
    return true;
}

REresult r_set_audio_source(RecorderEngineHandle h, REuint32 source)
{
    ENGINE_OR_FAIL("set_audio_source");
    if (source > 2) {
        eng_warn("set_audio_source: unknown source %u", source);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.audio_source = source;
    return CC_OK;
}

REresult r_get_audio_supported_sample_rate(RecorderEngineHandle h, REuint32 index, REuint32 *rate)
{
    ENGINE_OR_FAIL("get_audio_supported_sample_rate");
    if (!rate) {
        eng_warn("get_audio_supported_sample_rate: null output");
        return CC_FAIL;
    }
    if (index >= G_N_ELEMENTS(kSampleRates))
        return RE_NO_MORE_CAPABILITIES;
    *rate = kSampleRates[index];
    return CC_OK;
}

REresult r_set_audio_sample_rate(RecorderEngineHandle h, REuint32 rate)
{
    ENGINE_OR_FAIL("set_audio_sample_rate");
    if (rate && !in_list(rate, kSampleRates, G_N_ELEMENTS(kSampleRates))) {
        eng_warn("set_audio_sample_rate: %u Hz is not supported", rate);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.sample_rate = rate;
    return CC_OK;
}

REresult r_get_audio_supported_channel(RecorderEngineHandle h, REuint32 index, REuint32 *channels)
{
    ENGINE_OR_FAIL("get_audio_supported_channel");
    if (!channels) {
        eng_warn("get_audio_supported_channel: null output");
        return CC_FAIL;
    }
    if (index >= G_N_ELEMENTS(kChannels))
        return RE_NO_MORE_CAPABILITIES;
    *channels = kChannels[index];
    return CC_OK;
}

REresult r_set_audio_channel(RecorderEngineHandle h, REuint32 channels)
{
    ENGINE_OR_FAIL("set_audio_channel");
    if (channels && !in_list(channels, kChannels, G_N_ELEMENTS(kChannels))) {
        eng_warn("set_audio_channel: %u channels are not supported", channels);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.channels = channels;
    return CC_OK;
}

REresult r_set_video_source(RecorderEngineHandle h, REuint32 source)
{
    ENGINE_OR_FAIL("set_video_source");
    if (source > 1) {
        eng_warn("set_video_source: unknown source %u", source);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.video_source = source;
    return CC_OK;
}

REresult r_set_camera_id(RecorderEngineHandle h, REuint32 id)
{
    ENGINE_OR_FAIL("set_camera_id");
    Locked l(e);
    if (id != e->s.camera_id)
        e->caps_cache_valid = false;
    e->s.camera_id = id;
    if (id == RE_CAMERA_ID_NONE)
        eng_info("no camera: the test pattern will be used");
    return CC_OK;
}

REresult r_get_camera_capabilities(RecorderEngineHandle h, REuint32 index, RERawVideoSettings *out)
{
    ENGINE_OR_FAIL("get_camera_capabilities");
    if (!out) {
        eng_warn("get_camera_capabilities: null output");
        return CC_FAIL;
    }
    Locked l(e);
    std::vector<Capability> caps;
    if (!source_capabilities(e, caps)) {
        /* An empty list: the caller's walk must still end. */
        return RE_NO_MORE_CAPABILITIES;
    }
    if (index >= caps.size())
        return RE_NO_MORE_CAPABILITIES;
    out->videoFormat = caps[index].raw ? RE_VIDEO_FORMAT_DEFAULT : RE_VIDEO_FORMAT_MJPEG;
    out->width = caps[index].width;
    out->height = caps[index].height;
    out->framesPerSecond = caps[index].fps;
    return CC_OK;
}

REresult r_set_camera_output_settings(RecorderEngineHandle h, RERawVideoSettings *st)
{
    ENGINE_OR_FAIL("set_camera_output_settings");
    if (!st) {
        eng_warn("set_camera_output_settings: null settings");
        return CC_FAIL;
    }
    if ((st->width == 0) != (st->height == 0) || st->width > kMaxDim || st->height > kMaxDim ||
        st->width % 2 || st->height % 2 || st->framesPerSecond > 240 ||
        st->videoFormat > RE_VIDEO_FORMAT_MJPEG) {
        eng_warn("set_camera_output_settings: %ux%u@%u (format %u) is not a usable size", st->width,
                st->height, st->framesPerSecond, st->videoFormat);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.output = *st;
    return CC_OK;
}

REresult r_disable_viewfinder(RecorderEngineHandle h, REboolean disable)
{
    ENGINE_OR_FAIL("disable_viewfinder");
    Locked l(e);
    e->s.viewfinder_off = disable != 0;
    capture_apply_live_settings(e);
    return CC_OK;
}

REresult r_set_preview_region(RecorderEngineHandle h, REVideoRect *rect)
{
    ENGINE_OR_FAIL("set_preview_region");
    if (!rect) {
        eng_warn("set_preview_region: null region");
        return CC_FAIL;
    }
    bool zero = !rect->left && !rect->top && !rect->width && !rect->height;
    if (!zero && (!rect->width || !rect->height || rect->width > 32767 || rect->height > 32767 ||
                  rect->left > 32767 || rect->top > 32767)) {
        eng_warn("set_preview_region: %u,%u %ux%u is not a usable region", rect->left, rect->top,
                rect->width, rect->height);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.region = *rect;
    capture_apply_live_settings(e);
    return CC_OK;
}

REresult r_set_preview_win_id(RecorderEngineHandle h, void *window)
{
    ENGINE_OR_FAIL("set_preview_win_id");
    Locked l(e);
    e->s.window = (guintptr)window;
    return CC_OK;
}

REresult r_need_preview_buffer(RecorderEngineHandle h, REboolean need)
{
    ENGINE_OR_FAIL("need_preview_buffer");
    Locked l(e);
    e->s.preview_buffers = need != 0;
    g_atomic_int_set(&e->want_pbuf, need ? 1 : 0);
    return CC_OK;
}

REresult r_get_preview_buffer_format(RecorderEngineHandle h, RERawVideoSettings *fmt)
{
    ENGINE_OR_FAIL("get_preview_buffer_format");
    if (!fmt) {
        eng_warn("get_preview_buffer_format: null output");
        return CC_FAIL;
    }
    Locked l(e);
    GstCaps *caps = capture_video_caps(e);
    if (!caps) {
        eng_warn("get_preview_buffer_format: the engine is not prepared");
        return CC_FAIL;
    }
    GstStructure *st = gst_caps_get_structure(caps, 0);
    int w = 0, hh = 0, n = 0, d = 1;
    gst_structure_get_int(st, "width", &w);
    gst_structure_get_int(st, "height", &hh);
    gst_structure_get_fraction(st, "framerate", &n, &d);
    gst_caps_unref(caps);
    fmt->videoFormat = RE_VIDEO_FORMAT_I420;
    fmt->width = w;
    fmt->height = hh;
    fmt->framesPerSecond = d > 0 ? (REuint32)((n + d / 2) / d) : 0;
    return CC_OK;
}

REresult r_add_time_stamp(RecorderEngineHandle h, REboolean enable)
{
    ENGINE_OR_FAIL("add_time_stamp");
    Locked l(e);
    e->s.time_stamp = enable != 0;
    capture_apply_live_settings(e);
    return CC_OK;
}

REresult r_add_video_effect(RecorderEngineHandle h, REuint32 effect)
{
    ENGINE_OR_FAIL("add_video_effect");
    if (!effect_code_known(effect)) {
        eng_warn("add_video_effect: unknown effect %u", effect);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.effect = effect;
    return CC_OK;
}

REresult r_add_video_detect(RecorderEngineHandle h, REuint32 detect)
{
    ENGINE_OR_FAIL("add_video_detect");
    if (detect != 0) {
        eng_warn("add_video_detect: detector %u is not available in this engine", detect);
        return CC_FAIL;
    }
    return CC_OK;
}

REresult r_set_audio_encoder_settings(RecorderEngineHandle h, REAudioEncoderSettings *st)
{
    ENGINE_OR_FAIL("set_audio_encoder_settings");
    if (!st) {
        eng_warn("set_audio_encoder_settings: null settings");
        return CC_FAIL;
    }
    if (st->encoderType > 2 || (st->bitRate && (st->bitRate < 8000 || st->bitRate > 512000))) {
        eng_warn("set_audio_encoder_settings: encoder %u at %u bit/s is not supported", st->encoderType,
                st->bitRate);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.aenc = *st;
    return CC_OK;
}

REresult r_set_video_encoder_settings(RecorderEngineHandle h, REVideoEncoderSettings *st)
{
    ENGINE_OR_FAIL("set_video_encoder_settings");
    if (!st) {
        eng_warn("set_video_encoder_settings: null settings");
        return CC_FAIL;
    }
    if (st->encoderType > 4 || (st->bitRate && (st->bitRate < 16000 || st->bitRate > 100000000)) ||
        st->IFrameIntervalMs > 60000) {
        eng_warn("set_video_encoder_settings: encoder %u, %u bit/s, key frames every %u ms is not supported",
                st->encoderType, st->bitRate, st->IFrameIntervalMs);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.venc = *st;
    return CC_OK;
}

REresult r_set_container_format(RecorderEngineHandle h, REuint32 format)
{
    ENGINE_OR_FAIL("set_container_format");
    if (format > 5) {
        eng_warn("set_container_format: unknown container %u", format);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.container = format;
    return CC_OK;
}

REresult r_set_output_file_path(RecorderEngineHandle h, const REchar *path)
{
    ENGINE_OR_FAIL("set_output_file_path");
    if (!path_ok(path, "set_output_file_path"))
        return CC_FAIL;
    Locked l(e);
    g_free(e->s.path);
    e->s.path = g_strdup(path);
    g_free(e->s.snapshot_path);
    e->s.snapshot_path = g_strdup(path);
    return CC_OK;
}

REresult r_set_rtp_host(RecorderEngineHandle h, const REchar *host, REuint32 port)
{
    ENGINE_OR_FAIL("set_rtp_host");
    if (host && *host) {
        if (strlen(host) > 255 || port == 0 || port > 65535) {
            eng_warn("set_rtp_host: %.64s port %u is not a usable destination", host, port);
            return CC_FAIL;
        }
    }
    Locked l(e);
    g_free(e->s.rtp_host);
    e->s.rtp_host = host && *host ? g_strdup(host) : nullptr;
    e->s.rtp_port = e->s.rtp_host ? port : 0;
    if (e->s.rtp_host)
        eng_info("RTP streaming to %s:%u", host, port);
    return CC_OK;
}

REresult r_set_file_count(RecorderEngineHandle h, REuint32 count)
{
    ENGINE_OR_FAIL("set_file_count");
    Locked l(e);
    e->s.file_count = count;
    return CC_OK;
}

REresult r_set_max_file_duration(RecorderEngineHandle h, REtime us)
{
    ENGINE_OR_FAIL("set_max_file_duration");
    if (us > (REtime)G_MAXINT64 / 1000) {
        eng_warn("set_max_file_duration: %llu us is too long", (unsigned long long)us);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.max_duration_us = us;
    return CC_OK;
}

REresult r_set_max_file_size_bytes(RecorderEngineHandle h, REuint64 bytes)
{
    ENGINE_OR_FAIL("set_max_file_size_bytes");
    Locked l(e);
    e->s.max_size = bytes;
    return CC_OK;
}

REresult r_set_output_file_settings(RecorderEngineHandle h, REOutputFileSettings *st)
{
    ENGINE_OR_FAIL("set_output_file_settings");
    if (!st) {
        eng_warn("set_output_file_settings: null settings");
        return CC_FAIL;
    }
    if (st->rotation % 90 || st->rotation >= 360) {
        eng_warn("set_output_file_settings: rotation %u is not 0, 90, 180 or 270", st->rotation);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.ofs = *st;
    return CC_OK;
}

REresult r_set_snapshot_output_format(RecorderEngineHandle h, REuint32 format)
{
    ENGINE_OR_FAIL("set_snapshot_output_format");
    if (format > 2) {
        eng_warn("set_snapshot_output_format: unknown format %u", format);
        return CC_FAIL;
    }
    Locked l(e);
    e->s.snapshot_format = format;
    return CC_OK;
}

REresult r_set_snapshot_output_file(RecorderEngineHandle h, const REchar *path)
{
    ENGINE_OR_FAIL("set_snapshot_output_file");
    if (!path_ok(path, "set_snapshot_output_file"))
        return CC_FAIL;
    Locked l(e);
    g_free(e->s.snapshot_path);
    e->s.snapshot_path = g_strdup(path);
    return CC_OK;
}

REresult r_take_snapshot(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("take_snapshot");
    Locked l(e);
    return snapshot_take(e);
}

REresult r_init(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("init");
    Locked l(e);
    if (e->inited)
        return CC_OK;
    if (!events_start(e))
        return CC_FAIL;
    e->inited = true;
    return CC_OK;
}

REresult r_register_event_handler(RecorderEngineHandle h, void *context, RecorderEngineEventHandler fn)
{
    ENGINE_OR_FAIL("register_event_handler");
    g_mutex_lock(&e->hlock);
    e->handler = fn;
    e->handler_ctx = context;
    g_mutex_unlock(&e->hlock);
    return CC_OK;
}

REresult do_prepare(Engine *e)
{
    if (!e->inited) {
        eng_warn("prepare: call init first");
        return CC_FAIL;
    }
    if (e->cap) {
        g_mutex_lock(&e->flock);
        bool failed = e->cap_failed;
        g_mutex_unlock(&e->flock);
        if (!failed)
            return CC_OK;
        capture_stop(e); /* a source that failed since: start it afresh */
    }
    if (capture_start(e) != CC_OK) {
        if (source_is_pattern(e->s)) {
            eng_warn("prepare: the test pattern does not start");
        } else {
            gchar *dev = source_device_path(e->s);
            eng_warn("prepare: camera %s is unusable", dev);
            g_free(dev);
        }
        return CC_FAIL;
    }
    return CC_OK;
}

REresult r_prepare(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("prepare");
    Locked l(e);
    return do_prepare(e);
}

REresult r_start(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("start");
    Locked l(e);
    return record_start(e);
}

REresult r_pause(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("pause");
    return record_pause(e);
}

REresult r_resume(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("resume");
    return record_resume(e);
}

REresult r_stop(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("stop");
    return record_finish(e, false, 0);
}

REresult r_close(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("close");
    Locked l(e);
    if (recording_active(e))
        record_finish(e, false, 0);
    capture_stop(e);
    return CC_OK;
}

REresult r_reset(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("reset");
    Locked l(e);
    if (recording_active(e)) {
        eng_warn("reset: a recording is in progress; stop it first");
        return CC_FAIL;
    }
    capture_stop(e);
    return do_prepare(e);
}

REresult r_get_max_amplitude(RecorderEngineHandle h, REuint32 *amplitude)
{
    ENGINE_OR_FAIL("get_max_amplitude");
    if (!amplitude) {
        eng_warn("get_max_amplitude: null output");
        return CC_FAIL;
    }
    g_mutex_lock(&e->rlock);
    *amplitude = e->peak;
    e->peak = 0;
    g_mutex_unlock(&e->rlock);
    return CC_OK;
}

REresult r_get_media_time(RecorderEngineHandle h, REtime *us)
{
    ENGINE_OR_FAIL("get_media_time");
    if (!us) {
        eng_warn("get_media_time: null output");
        return CC_FAIL;
    }
    *us = record_media_time_ns(e) / 1000;
    return CC_OK;
}

REresult r_delete_it(RecorderEngineHandle h)
{
    ENGINE_OR_FAIL("delete_it");
    if (events_on_event_thread(e)) {
        eng_warn("delete_it: cannot be called from the engine's event handler");
        return CC_FAIL;
    }
    g_mutex_lock(&e->lock);
    if (recording_active(e))
        record_finish(e, false, 0);
    capture_stop(e);
    g_mutex_unlock(&e->lock);
    events_stop(e);

    RecorderEngine *t = e->table;
    g_free(e->s.path);
    g_free(e->s.snapshot_path);
    g_free(e->s.rtp_host);
    g_mutex_clear(&e->lock);
    g_mutex_clear(&e->hlock);
    g_mutex_clear(&e->rlock);
    g_cond_clear(&e->rcond);
    g_mutex_clear(&e->flock);
    g_cond_clear(&e->fcond);
    delete e;
    t->pData = nullptr;
    g_free(t);
    return CC_OK;
}

} // namespace
} // namespace cc

extern "C" __attribute__((visibility("default"))) RecorderEngine *recorder_engine_create(void)
{
    using namespace cc;
    GError *err = nullptr;
    if (!gst_init_check(nullptr, nullptr, &err)) {
        eng_warn("GStreamer cannot be initialised: %s", err ? err->message : "?");
        g_clear_error(&err);
        return nullptr;
    }
    RecorderEngine *t = g_new0(RecorderEngine, 1);
    Engine *e = new Engine();
    g_mutex_init(&e->lock);
    g_mutex_init(&e->hlock);
    g_mutex_init(&e->rlock);
    g_cond_init(&e->rcond);
    g_mutex_init(&e->flock);
    g_cond_init(&e->fcond);
    e->table = t;
    t->set_audio_source = r_set_audio_source;
    t->get_audio_supported_sample_rate = r_get_audio_supported_sample_rate;
    t->set_audio_sample_rate = r_set_audio_sample_rate;
    t->get_audio_supported_channel = r_get_audio_supported_channel;
    t->set_audio_channel = r_set_audio_channel;
    t->set_video_source = r_set_video_source;
    t->set_camera_id = r_set_camera_id;
    t->get_camera_capabilities = r_get_camera_capabilities;
    t->set_camera_output_settings = r_set_camera_output_settings;
    t->disable_viewfinder = r_disable_viewfinder;
    t->set_preview_region = r_set_preview_region;
    t->set_preview_win_id = r_set_preview_win_id;
    t->need_preview_buffer = r_need_preview_buffer;
    t->get_preview_buffer_format = r_get_preview_buffer_format;
    t->add_time_stamp = r_add_time_stamp;
    t->add_video_effect = r_add_video_effect;
    t->add_video_detect = r_add_video_detect;
    t->set_audio_encoder_settings = r_set_audio_encoder_settings;
    t->set_video_encoder_settings = r_set_video_encoder_settings;
    t->set_container_format = r_set_container_format;
    t->set_output_file_path = r_set_output_file_path;
    t->set_rtp_host = r_set_rtp_host;
    t->set_file_count = r_set_file_count;
    t->set_max_file_duration = r_set_max_file_duration;
    t->set_max_file_size_bytes = r_set_max_file_size_bytes;
    t->set_output_file_settings = r_set_output_file_settings;
    t->set_snapshot_output_format = r_set_snapshot_output_format;
    t->set_snapshot_output_file = r_set_snapshot_output_file;
    t->take_snapshot = r_take_snapshot;
    t->init = r_init;
    t->register_event_handler = r_register_event_handler;
    t->prepare = r_prepare;
    t->start = r_start;
    t->pause = r_pause;
    t->resume = r_resume;
    t->stop = r_stop;
    t->close = r_close;
    t->reset = r_reset;
    t->get_max_amplitude = r_get_max_amplitude;
    t->get_media_time = r_get_media_time;
    t->delete_it = r_delete_it;
    t->pData = e;
    return t;
}
