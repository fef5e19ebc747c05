/*
 * recorderengine.h - the recorder engine of korin (libcapturecore-1.0).
 *
 * Camera capture, live preview, encoding, muxing, snapshots and RTP streaming
 * behind a table of C function pointers.  Plain C; no GStreamer types leak out.
 *
 * Usage
 *   RecorderEngine *e = recorder_engine_create();
 *   e->init(e);
 *   e->register_event_handler(e, ctx, handler);
 *   ...setters (0 always means "the engine's default")...
 *   e->set_preview_win_id(e, (void *)window);
 *   e->prepare(e);                     preview runs
 *   e->get_camera_capabilities(e, i, &caps) for i = 0, 1, ... until it returns 10
 *   e->set_output_file_path(e, "/path/clip.mp4");
 *   e->start(e); ... e->pause(e); e->resume(e); ... e->stop(e);
 *   e->take_snapshot(e);               JPEG of the current frame
 *   e->close(e);                       everything stopped; prepare may follow
 *   e->delete_it(e);                   the table is freed
 *
 * Every slot takes the table itself as its first argument and returns 0 on
 * success; any other value is a failure, and a log line says why.
 *
 * Sources
 *   set_camera_id(n) captures from /dev/video<n> (V4L2).  RE_CAMERA_ID_NONE
 *   (0xFFFFFFFF, what the camera program sends when it found no camera)
 *   selects a generated live test pattern with moving colour bars.  A device
 *   that does not open or stream makes prepare/reset fail.
 *   set_video_source: 0 camera (or the pattern for RE_CAMERA_ID_NONE),
 *   1 always the test pattern.
 *   set_audio_source: 0 the system's default capture device when there is one
 *   (recordings go without audio otherwise, with a log line), 1 no audio,
 *   2 a generated test tone.
 *
 * Codes
 *   video encoder: 0 or 1 H.264, 2 MPEG-4 part 2, 3 H.263 (scaled to the
 *     largest of 128x96, 176x144, 352x288, 704x576, 1408x1152 that fits),
 *     4 MPEG-2 (only 23.976, 24, 25, 29.97, 30, 50 and 59.94 frames per
 *     second: other camera rates are converted to the nearest of these).
 *   audio encoder: 0 engine's choice (AAC, MP3 in AVI), 1 AAC, 2 MP3.
 *   container: 0 MP4, 1 MOV, 2 MKV, 3 AVI, 4 FLV, 5 MPEG-TS.
 *     Pairs that cannot be muxed (H.263 or MPEG-2 in MP4, MPEG-2 in MOV,
 *     anything but H.264 in FLV, H.263 in TS) make start fail without
 *     creating a file.
 *   effect: 0 none, 1 Cube, 2 Mirror, 3 Squeeze, 4 FishEye, 6 Tunnel, 7 Twirl;
 *     takes effect at the next prepare or reset.
 *   bit rates in bits per second; IFrameIntervalMs in milliseconds (default
 *   one second, so split points and seeking stay close).
 *
 * Limits
 *   file size and file count both set: the recording is split into MPEG-TS
 *     segments of at most that size (one second of video is the unit, so a
 *     smaller limit cannot be kept), written in the folder of the output path
 *     as <stem>_001.ts, <stem>_002.ts, ...  Each segment starts at a key frame
 *     and plays on its own.  When the last allowed segment is full the
 *     recording ends with event RE_EVENT_MAX_FILESIZE; earlier segments are
 *     never deleted.
 *   file size only: one file at the exact path, ended before it passes that
 *     size, with event RE_EVENT_MAX_FILESIZE.
 *   file count only: no limit.
 *   set_max_file_duration (microseconds): the recording ends at that duration
 *     with event RE_EVENT_MAX_DURATION.
 *   Split recordings and RTP always use MPEG-TS, whatever the container.
 *
 * Starting
 *   start fails, with a log line and no event, when the engine is not
 *   prepared, its video source has failed since prepare/reset, a recording
 *   is already running or paused, the output folder is missing or takes no
 *   new files, or a one-file recording's path cannot be written.
 *
 * Recording
 *   stop returns once the file is finalised.  stop and get_media_time may be
 *   called from any thread, the event handler included, also concurrently.
 *   A stop while nothing records returns at once: 0 when the engine had
 *   already ended the recording (limit or error), non-zero otherwise.
 *   get_media_time gives the recorded microseconds without pauses.
 *   MP4/MOV are fragmented (a fragment every half second, no room kept for
 *   an index; why: engine_mux.cpp) and state the duration written so far;
 *   they, MKV, TS and FLV are readable as written, so a recording killed with
 *   the process still plays up to its last second.  What has been written
 *   reaches the disk every second.  FLV is written streamable (no duration or
 *   seek index in its header, which a killed file could not correct).
 *
 * Snapshots
 *   take_snapshot writes the current frame (effect and time stamp included)
 *   to the path set last by set_output_file_path or set_snapshot_output_file,
 *   as JPEG (format 0 or 1) or PNG (2), and returns once the file is complete
 *   on disk.
 *
 * Preview
 *   Into the X11 window of set_preview_win_id, inside set_preview_region (all
 *   zero: the whole window, following its size).  On an XVideo overlay the
 *   sink keys on the colour of the COLORKEY environment variable as the
 *   programs paint it, and does not paint the key itself; elsewhere a plain
 *   X11 image sink draws.  Either draws into a child window of the given one
 *   (filled with the key colour on XVideo), placed on the region.
 *   disable_viewfinder(1) hides the preview while capture goes on: the child
 *   window is unmapped, which also ends the overlay.
 *
 * Events (on an engine thread, never inside a call to the engine)
 *   1 error while running: a recording in progress has been stopped and
 *     finalised before the event is sent.
 *   2 preview frame (after need_preview_buffer(1)): param points to a
 *     REPreviewBuffer valid during the call.
 *   3 duration limit reached, 4 size or count limit reached: the recording
 *     has been stopped and finalised.
 */
#ifndef KORIN_RECORDERENGINE_H
#define KORIN_RECORDERENGINE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef char REchar;
typedef unsigned int REuint32;
typedef unsigned long long REuint64;
typedef REuint32 REboolean;
typedef REuint32 REmicrosecond;
typedef REuint32 REresult;
typedef REuint64 REtime;

typedef void *RecorderEngineHandle;
typedef REresult (*RecorderEngineEventHandler)(void *context, REuint32 event, void *param);

#define RE_CAMERA_ID_NONE 0xFFFFFFFFu
#define RE_NO_MORE_CAPABILITIES 10u

#define RE_EVENT_ERROR 1u
#define RE_EVENT_PREVIEW_BUFFER 2u
#define RE_EVENT_MAX_DURATION 3u
#define RE_EVENT_MAX_FILESIZE 4u

/* videoFormat values */
#define RE_VIDEO_FORMAT_DEFAULT 0u
#define RE_VIDEO_FORMAT_I420 1u
#define RE_VIDEO_FORMAT_NV12 2u
#define RE_VIDEO_FORMAT_YUY2 3u
#define RE_VIDEO_FORMAT_RGB 4u
#define RE_VIDEO_FORMAT_MJPEG 5u

typedef struct {
    REuint32 videoFormat;
    REuint32 width;
    REuint32 height;
    REuint32 framesPerSecond;
} RERawVideoSettings;

typedef struct {
    REuint32 left;
    REuint32 top;
    REuint32 width;
    REuint32 height;
} REVideoRect;

typedef struct {
    REuint32 encoderType;
    REuint32 bitRate;
    REuint32 reserved[8];
} REAudioEncoderSettings;

typedef struct {
    REuint32 encoderType;
    REuint32 bitRate;
    REmicrosecond IFrameIntervalMs;
    REuint32 profile;
    REuint32 level;
    REuint32 reserved[8];
} REVideoEncoderSettings;

/* rotation: 0, 90, 180 or 270 (degrees clockwise, written as a tag);
 * longitudex/latitudex: signed degrees times 10^7 stored in two's complement,
 * both 0 for "no location". */
typedef struct {
    REmicrosecond interleaveMs;
    REuint32 movieTimeScale;
    REuint32 audioTimeScale;
    REuint32 videoTimeScale;
    REuint32 rotation;
    REuint32 padding;
    REuint64 longitudex;
    REuint64 latitudex;
    REuint32 reserved[8];
} REOutputFileSettings;

/* The frame handed with RE_EVENT_PREVIEW_BUFFER: I420, planes packed one
 * after the other with the given strides. */
typedef struct {
    const void *data;
    REuint64 size;
    REuint32 format;
    REuint32 width;
    REuint32 height;
    REuint32 stride[3];
    REuint64 offset[3];
    REtime timestampUs;
} REPreviewBuffer;

typedef struct RecorderEngine RecorderEngine;

struct RecorderEngine {
    REresult (*set_audio_source)(RecorderEngineHandle h, REuint32 source);
    REresult (*get_audio_supported_sample_rate)(RecorderEngineHandle h, REuint32 index, REuint32 *rate);
    REresult (*set_audio_sample_rate)(RecorderEngineHandle h, REuint32 rate);
    REresult (*get_audio_supported_channel)(RecorderEngineHandle h, REuint32 index, REuint32 *channels);
    REresult (*set_audio_channel)(RecorderEngineHandle h, REuint32 channels);
    REresult (*set_video_source)(RecorderEngineHandle h, REuint32 source);
    REresult (*set_camera_id)(RecorderEngineHandle h, REuint32 id);
    REresult (*get_camera_capabilities)(RecorderEngineHandle h, REuint32 index, RERawVideoSettings *caps);
    REresult (*set_camera_output_settings)(RecorderEngineHandle h, RERawVideoSettings *settings);
    REresult (*disable_viewfinder)(RecorderEngineHandle h, REboolean disable);
    REresult (*set_preview_region)(RecorderEngineHandle h, REVideoRect *rect);
    REresult (*set_preview_win_id)(RecorderEngineHandle h, void *window);
    REresult (*need_preview_buffer)(RecorderEngineHandle h, REboolean need);
    REresult (*get_preview_buffer_format)(RecorderEngineHandle h, RERawVideoSettings *format);
    REresult (*add_time_stamp)(RecorderEngineHandle h, REboolean enable);
    REresult (*add_video_effect)(RecorderEngineHandle h, REuint32 effect);
    REresult (*add_video_detect)(RecorderEngineHandle h, REuint32 detect);
    REresult (*set_audio_encoder_settings)(RecorderEngineHandle h, REAudioEncoderSettings *settings);
    REresult (*set_video_encoder_settings)(RecorderEngineHandle h, REVideoEncoderSettings *settings);
    REresult (*set_container_format)(RecorderEngineHandle h, REuint32 format);
    REresult (*set_output_file_path)(RecorderEngineHandle h, const REchar *path);
    REresult (*set_rtp_host)(RecorderEngineHandle h, const REchar *host, REuint32 port);
    REresult (*set_file_count)(RecorderEngineHandle h, REuint32 count);
    REresult (*set_max_file_duration)(RecorderEngineHandle h, REtime durationUs);
    REresult (*set_max_file_size_bytes)(RecorderEngineHandle h, REuint64 bytes);
    REresult (*set_output_file_settings)(RecorderEngineHandle h, REOutputFileSettings *settings);
    REresult (*set_snapshot_output_format)(RecorderEngineHandle h, REuint32 format);
    REresult (*set_snapshot_output_file)(RecorderEngineHandle h, const REchar *path);
    REresult (*take_snapshot)(RecorderEngineHandle h);
    REresult (*init)(RecorderEngineHandle h);
    REresult (*register_event_handler)(RecorderEngineHandle h, void *context, RecorderEngineEventHandler handler);
    REresult (*prepare)(RecorderEngineHandle h);
    REresult (*start)(RecorderEngineHandle h);
    REresult (*pause)(RecorderEngineHandle h);
    REresult (*resume)(RecorderEngineHandle h);
    REresult (*stop)(RecorderEngineHandle h);
    REresult (*close)(RecorderEngineHandle h);
    REresult (*reset)(RecorderEngineHandle h);
    REresult (*get_max_amplitude)(RecorderEngineHandle h, REuint32 *amplitude);
    REresult (*get_media_time)(RecorderEngineHandle h, REtime *timeUs);
    REresult (*delete_it)(RecorderEngineHandle h);
    void *pData;
};

/* A new engine, or NULL when GStreamer cannot be initialised. */
RecorderEngine *recorder_engine_create(void);

#ifdef __cplusplus
}
#endif

#endif /* KORIN_RECORDERENGINE_H */
