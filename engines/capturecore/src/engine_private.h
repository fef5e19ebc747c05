/* Internal state of the recorder engine, shared by its source files. */
#ifndef CAPTURECORE_ENGINE_PRIVATE_H
#define CAPTURECORE_ENGINE_PRIVATE_H

#include <errno.h>
#include <gst/gst.h>
#include <initializer_list>
#include <vector>

#include "engine_common.h"
#include "recorderengine.h"


namespace cc {

enum { CC_OK = 0, CC_FAIL = 1 };

/* What the setters store; applied by prepare/reset/start/take_snapshot. */
struct Settings {
    REuint32 audio_source = 0;
    REuint32 sample_rate = 0;
    REuint32 channels = 0;
    REuint32 video_source = 0;
    REuint32 camera_id = RE_CAMERA_ID_NONE;
    RERawVideoSettings output = {0, 0, 0, 0};
    REVideoRect region = {0, 0, 0, 0};
    guintptr window = 0;
    bool viewfinder_off = false;
    bool preview_buffers = false;
    bool time_stamp = false;
    REuint32 effect = 0;
    REAudioEncoderSettings aenc = {0, 0, {0}};
    REVideoEncoderSettings venc = {0, 0, 0, 0, 0, {0}};
    REuint32 container = 0;
    gchar *path = nullptr;          /* recording target */
    gchar *snapshot_path = nullptr; /* path set last by either path setter */
    REuint32 snapshot_format = 0;
    gchar *rtp_host = nullptr;
    REuint32 rtp_port = 0;
    REuint32 file_count = 0;
    REtime max_duration_us = 0;
    REuint64 max_size = 0;
    REOutputFileSettings ofs = {0, 0, 0, 0, 0, 0, 0, 0, {0}};
};

struct Capability {
    int width, height, fps;
    bool raw; /* false: the device gives only MJPEG at this size */
};

enum RecState { REC_IDLE, REC_RUNNING, REC_PAUSED, REC_STOPPING };

struct Recording;
struct Capture;

struct Engine {
    RecorderEngine *table = nullptr;

    GMutex lock;      /* serialises control calls and guards settings */
    Settings s;
    bool inited = false;

    /* Bus messages and timers run on their own main loop thread. */
    GMainContext *ctx = nullptr;
    GMainLoop *loop = nullptr;
    GThread *bus_thread = nullptr;

    /* Events and engine-initiated stops run on the event thread, so a
     * handler may call stop() without deadlocking a streaming thread. */
    GAsyncQueue *evq = nullptr;
    GThread *ev_thread = nullptr;
    GMutex hlock;
    RecorderEngineEventHandler handler = nullptr;
    void *handler_ctx = nullptr;

    Capture *cap = nullptr; /* running capture pipeline, or null */
    std::vector<Capability> caps_cache;
    REuint32 caps_cache_id = 0;
    bool caps_cache_valid = false;

    /* Recording state, guarded by rlock (never held across a wait on GStreamer). */
    GMutex rlock;
    GCond rcond;
    Recording *rec = nullptr;
    RecState rstate = REC_IDLE;
    bool ended_by_engine = false;
    guint64 last_media_ns = 0;
    guint gen = 0;
    guint32 peak = 0;

    /* Latest frame for snapshots and preview buffers, guarded by flock. */
    GMutex flock;
    GCond fcond;
    GstSample *last_sample = nullptr;
    guint64 frames = 0;
    bool cap_failed = false;
    RERawVideoSettings pbuf_format = {0, 0, 0, 0};
    gint want_pbuf = 0; /* atomic: deliver preview frames as event 2 */
};

/* engine_events.cpp */
bool events_start(Engine *e);
void events_stop(Engine *e);
void events_deliver(Engine *e, REuint32 code, void *param);
void events_post(Engine *e, REuint32 code);                 /* deliver later */
/* Stops recording number gen, then delivers code (dropped when that
 * recording had already been stopped by the caller). */
void events_post_finish(Engine *e, REuint32 code, guint gen);
GSource *events_add_bus_watch(Engine *e, GstElement *pipeline, GstBusFunc fn, gpointer data,
                              GDestroyNotify notify);
GSource *events_add_timer(Engine *e, guint ms, GSourceFunc fn, gpointer data);
bool events_on_event_thread(Engine *e);
/* Destroys and unrefs a source of the bus thread; on return its callback is
 * not running and never runs again. */
void events_destroy_source_sync(Engine *e, GSource *src);

/* engine_source.cpp */
bool source_is_pattern(const Settings &s);
gchar *source_device_path(const Settings &s);
GstElement *source_create_bin(Engine *e, int *width, int *height, int *fps, bool *is_camera);
bool source_capabilities(Engine *e, std::vector<Capability> &out);
bool source_probe_audio(GstElement **src_out);

/* engine_preview.cpp */
REresult capture_start(Engine *e);
void capture_stop(Engine *e);
void capture_apply_live_settings(Engine *e);
GstCaps *capture_video_caps(Engine *e);
GstClock *capture_clock(Engine *e, GstClockTime *base_time);
bool effect_code_known(REuint32 code);

/* engine_record.cpp */
REresult record_start(Engine *e);
REresult record_pause(Engine *e);
REresult record_resume(Engine *e);
/* Stops and finalises the recording.  by_engine: only recording number gen. */
REresult record_finish(Engine *e, bool by_engine, guint gen);
void record_push_video(Engine *e, GstSample *sample, bool deep_copy);
REresult record_check_pair(REuint32 container, REuint32 encoder);
/* Recorded time of the current recording, or of the last one. */
guint64 record_media_time_ns(Engine *e);

/* engine_mpeg2.cpp */
/* The MPEG-2 frame rate nearest to fn/fd; true when that differs from it. */
bool mpeg2_rate(int fn, int fd, int *rn, int *rd);
/* Adds an MPEG-2 encoder for I420 w x h at fn/fd to bin: raw frames go
 * into *in, the elementary stream comes out of *out. */
bool mpeg2_add_encoder(GstElement *bin, int w, int h, int fn, int fd, guint bitrate, guint gop, GstElement **in,
                       GstElement **out);

/* engine_mux.cpp */
/* Has an MP4/MOV muxer write fragments that a killed recording keeps; false
 * for muxers of other kinds, left as they are. */
bool mux_make_fragmented(GstElement *mux);
/* A file sink added to bin (or floating, for splitmuxsink's "sink", with
 * path null) whose output reaches the disk every second; fragmented: it also
 * keeps the file's stated duration at what has been written. */
GstElement *mux_file_sink(Engine *e, GstElement *bin, const char *path, bool fragmented);

/* engine_snapshot.cpp */
REresult snapshot_take(Engine *e);
void snapshot_frame_arrived(Engine *e, GstSample *sample);

/* engine_preview.cpp: pipeline building shared with recording */
bool link_chain(std::initializer_list<GstElement *> els); /* any null fails the chain */
GstClockTime capture_running_time(Engine *e); /* NONE while the capture has no clock */

} // namespace cc

#endif
