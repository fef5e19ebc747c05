/*
 * libmediacore-1.0: the play engine.
 *
 * A table of C functions over a GStreamer playbin. Every operation takes the
 * table itself as its handle and returns a PlayEngineResult.
 *
 * Units and conventions
 *  - Times (seek, get_position, get_duration, subtitle pts/duration) are
 *    nanoseconds. get_video_thumbnail alone takes whole seconds.
 *  - States are GStreamer GstState values (NULL 1, READY 2, PAUSED 3,
 *    PLAYING 4).
 *  - Track numbers are 0-based; they index the arrays of korin_metadata.
 *  - play, pause and stop return once the state change is complete (or has
 *    failed, or the state-change timeout, 10 s by default, has passed), so
 *    get_state right after reports the new state.
 *  - The library initialises GStreamer itself; callers never call gst_init.
 *  - Any operation may be called from any thread. get_state and
 *    get_subtitle_text never wait for another operation in progress.
 *  - Events are delivered on a thread of the engine, never while the engine
 *    holds one of its locks, so a handler may call back into the engine.
 */
#ifndef KORIN_PLAYENGINE_H
#define KORIN_PLAYENGINE_H

#include <glib.h>
#include <gst/gst.h>

G_BEGIN_DECLS

typedef void* PlayEngineHandle;

typedef enum {
    PLAYENGINE_FAILURE = -1,
    PLAYENGINE_SUCCESS = 0,
    PLAYENGINE_ERROR_BAD_PARAM = 1,
    PLAYENGINE_ERROR_NOT_SUPPORT = 2,
    PLAYENGINE_ERROR_DEVICE_UNAVAILABLE = 3,
    PLAYENGINE_ERROR_CANCELLED = 4,
    PLAYENGINE_ERROR_TIMEOUT = 5
} PlayEngineResult;

typedef enum {
    EVENT_ID_EOS = 0,          /* data: NULL; once per run to the end */
    EVENT_ID_ERROR = 1,        /* data: "<file name>: cannot be played (<reason>)",
                                  once per load: its first error */
    EVENT_ID_STATE_CHANGE = 2, /* data: PlayEngineState* (the pipeline's) */
    EVENT_ID_BUFFERING = 3     /* data: gint* percent */
} EventType;

typedef struct {
    GstState old_st;
    GstState new_st;
    GstState pending_st;
} PlayEngineState;

typedef void (*PlayEngineEventHandler)(void* context, EventType event, void* data);

typedef struct {
    gint32 offsetx;
    gint32 offsety;
    gint32 width;
    gint32 height;
} DisplayArea;

/*
 * A picture. For get_video_thumbnail: RGB888 pixels, rows padded to a
 * multiple of 4 bytes as GStreamer lays them out; size = bytes per line *
 * height, so bytes per line = size / height. For album art: the encoded
 * picture (JPEG, PNG...) as stored in the tags, size its byte count, width
 * and height its dimensions (0 when they cannot be read).
 */
typedef struct {
    guint8* image;
    gsize size;
    gint width;
    gint height;
} korin_image_info;
typedef korin_image_info korin_album_art_info;

#define KORIN_METADATA_MAX_TRACKS 8

typedef struct {
    gchar codec_type[64];
    gchar language[64];
    gint samplerate;
    gint channels;
    guint bitrate;
} korin_audio_info;

typedef struct {
    gchar codec_type[64];
    gchar language[64];
    gint width;
    gint height;
    gint framerate_numerator;
    gint framerate_denominator;
    guint bitrate;
} korin_video_info;

typedef struct {
    gchar codec_type[64];
    gchar language[64];
} korin_subtitle_info;

/*
 * Everything the media carries. Text fields are always NUL-terminated (long
 * values are cut at a UTF-8 character boundary); empty when absent. The
 * counts n_audio/n_video/n_subtitle are the real stream counts; the track
 * arrays hold the first 8. album_art_info.image stays valid until the next
 * get_metadata or stop.
 */
typedef struct {
    gchar container[64];
    gchar pathname[256];
    gchar title[256];
    gchar artist[256];
    gchar album[256];
    gchar year[64];
    gchar genre[64];
    gchar albumartist[256];
    gchar composer[256];
    gchar comment[256];
    gchar description[256];
    gchar copyright[256];
    gchar keywords[256];
    gchar performer[256];
    gchar tool[256];
    gchar location_latitude[256];
    gchar location_longtitude[256];
    gint n_audio;
    gint n_video;
    gint n_subtitle;
    gint track_count;
    gint track_number;
    gint disc_number;
    gint rating;
    korin_audio_info audio_info[KORIN_METADATA_MAX_TRACKS];
    korin_video_info video_info[KORIN_METADATA_MAX_TRACKS];
    korin_subtitle_info subtitle_info[KORIN_METADATA_MAX_TRACKS];
    korin_album_art_info album_art_info;
} korin_metadata;

typedef enum {
    SUBTITLE_H_ALIGN_LEFT = 0,
    SUBTITLE_H_ALIGN_CENTER = 1,
    SUBTITLE_H_ALIGN_RIGHT = 2,
    SUBTITLE_H_ALIGN_POSITION = 4
} SubtitleHAlign;

typedef enum {
    SUBTITLE_V_ALIGN_BASELINE = 0,
    SUBTITLE_V_ALIGN_BOTTOM = 1,
    SUBTITLE_V_ALIGN_TOP = 2,
    SUBTITLE_V_ALIGN_POSITION = 3,
    SUBTITLE_V_ALIGN_CENTER = 4
} SubtitleVAlign;

typedef struct _PlayEngine PlayEngine;

struct _PlayEngine {
    /* A local path (absolute or relative) or a URI. Stops what was playing.
     * Clears the external subtitle file and the track choices. */
    PlayEngineResult (*set_file)(PlayEngineHandle handle, const gchar* uri);
    /* Plays from the paused position, or from 0 after set_file, stop or EOS. */
    PlayEngineResult (*play)(PlayEngineHandle handle);
    /* Stops and keeps the file; resets the rate to 1.0. State NULL after. */
    PlayEngineResult (*stop)(PlayEngineHandle handle);
    /* Loads (prerolls) or pauses. Fails when the file cannot be prerolled,
     * within the state-change timeout, its ERROR event included. */
    PlayEngineResult (*pause)(PlayEngineHandle handle);
    PlayEngineResult (*get_state)(PlayEngineHandle handle, GstState* state);
    /* How long play/pause/stop/seek wait for a state change, in ms. */
    PlayEngineResult (*set_state_change_timeout)(PlayEngineHandle handle, guint timeout_ms);
    /* Waits (bounded) until no state change is pending. */
    PlayEngineResult (*stop_wait_state_change)(PlayEngineHandle handle);
    /* position in nanoseconds; accurate: frame-exact, else nearest key frame.
     * Keeps the current rate. */
    PlayEngineResult (*seek)(PlayEngineHandle handle, guint64 position, gboolean accurate);
    /* Negative rates play backwards. Audio is left out while rate != 1.
     * Set while no file is loaded, it applies once pause or play loads it. */
    PlayEngineResult (*set_play_rate)(PlayEngineHandle handle, gdouble rate);
    PlayEngineResult (*get_play_rate)(PlayEngineHandle handle, gdouble* rate);
    /* 0, 90, 180 or 270 degrees clockwise; shown at once, playing or paused,
     * without leaving the current state. */
    PlayEngineResult (*set_rotate)(PlayEngineHandle handle, gint degree);
    PlayEngineResult (*get_rotate)(PlayEngineHandle handle, gint* degree);
    /* TRUE keeps the video's aspect ratio, FALSE fills the render area. */
    PlayEngineResult (*force_ratio)(PlayEngineHandle handle, gboolean keep);
    PlayEngineResult (*set_volume)(PlayEngineHandle handle, gdouble volume); /* 0.0 - 1.0 */
    PlayEngineResult (*get_volume)(PlayEngineHandle handle, gdouble* volume);
    PlayEngineResult (*set_mute)(PlayEngineHandle handle, gboolean mute);
    PlayEngineResult (*get_mute)(PlayEngineHandle handle, gboolean* mute);
    PlayEngineResult (*get_seekable)(PlayEngineHandle handle, gboolean* seekable);
    PlayEngineResult (*get_subtitle_num)(PlayEngineHandle handle, gint* num);
    PlayEngineResult (*get_audio_num)(PlayEngineHandle handle, gint* num);
    PlayEngineResult (*get_video_num)(PlayEngineHandle handle, gint* num);
    /* Current track, 0-based; -1 for subtitles when they are off. */
    PlayEngineResult (*get_cur_subtitle_no)(PlayEngineHandle handle, gint* no);
    PlayEngineResult (*get_cur_audio_no)(PlayEngineHandle handle, gint* no);
    PlayEngineResult (*get_cur_video_no)(PlayEngineHandle handle, gint* no);
    /* A frame near position_seconds as RGB888 (see korin_image_info), in a
     * buffer the engine owns, writable, valid until stop. The file must be
     * loaded (pause or play). NOT_SUPPORT: no video track; TIMEOUT: no frame
     * in time; FAILURE: anything else. The playing position is kept. */
    PlayEngineResult (*get_video_thumbnail)(PlayEngineHandle handle, gint position_seconds,
                                            korin_image_info* info);
    /* 0-based index; select_subtitle(-1) turns subtitles off. */
    PlayEngineResult (*select_subtitle)(PlayEngineHandle handle, gint index);
    PlayEngineResult (*select_audio)(PlayEngineHandle handle, gint index);
    PlayEngineResult (*select_video)(PlayEngineHandle handle, gint index);
    PlayEngineResult (*get_duration)(PlayEngineHandle handle, gint64* duration);
    PlayEngineResult (*get_position)(PlayEngineHandle handle, gint64* position);
    PlayEngineResult (*get_metadata)(PlayEngineHandle handle, korin_metadata* metadata);
    /* X11 window to draw the video into (0: the sink's own window). */
    PlayEngineResult (*set_window)(PlayEngineHandle handle, guintptr window);
    /* Area of the window the video is drawn in; width/height <= 0: the whole
     * window. Follow with expose_video. */
    PlayEngineResult (*set_render_rect)(PlayEngineHandle handle, DisplayArea area);
    PlayEngineResult (*expose_video)(PlayEngineHandle handle);
    /* TRUE draws into the whole window, ignoring the render rectangle;
     * FALSE goes back to the render rectangle. */
    PlayEngineResult (*set_fullscreen)(PlayEngineHandle handle, gboolean fullscreen);
    /* The area video is drawn in: the render rectangle, else the window. */
    PlayEngineResult (*get_display_area)(PlayEngineHandle handle, DisplayArea* area);
    /* Element names, set while no file is loaded. "appsink" as text sink
     * makes the subtitle text available through get_subtitle_text instead
     * of drawing it. A video sink name that does not exist here falls back
     * to the nearest real sink (logged). A "fakesink" video or audio sink
     * takes its buffers in real time. NULL: the engine's default. */
    PlayEngineResult (*set_text_sink)(PlayEngineHandle handle, const gchar* name);
    PlayEngineResult (*set_video_sink)(PlayEngineHandle handle, const gchar* name);
    PlayEngineResult (*set_audio_sink)(PlayEngineHandle handle, const gchar* name);
    /* Visualisation element shown for audio-only media; NULL turns it off. */
    PlayEngineResult (*set_visual)(PlayEngineHandle handle, const gchar* name);
    /* External subtitle file: a plain path (or URI) in UTF-8, NULL for none.
     * Call after set_file and before pause/play. */
    PlayEngineResult (*set_subtitle_uri)(PlayEngineHandle handle, const gchar* path);
    PlayEngineResult (*set_subtitle_font)(PlayEngineHandle handle, const gchar* pango_font_desc);
    PlayEngineResult (*set_subtitle_color)(PlayEngineHandle handle, guint argb);
    PlayEngineResult (*set_subtitle_outline_color)(PlayEngineHandle handle, guint argb);
    PlayEngineResult (*set_subtitle_shaded_background)(PlayEngineHandle handle, gboolean shaded);
    /* position (0.0 - 1.0) is used with the POSITION alignments. */
    PlayEngineResult (*set_subtitle_halignment)(PlayEngineHandle handle, SubtitleHAlign align,
                                                gdouble position);
    PlayEngineResult (*set_subtitle_valignment)(PlayEngineHandle handle, SubtitleVAlign align,
                                                gdouble position);
    /* Copies the font description, NUL-terminated, cut to size. */
    PlayEngineResult (*get_subtitle_font)(PlayEngineHandle handle, gchar* buffer, gsize size);
    PlayEngineResult (*get_subtitle_color)(PlayEngineHandle handle, guint* argb);
    PlayEngineResult (*get_subtitle_outline_color)(PlayEngineHandle handle, guint* argb);
    PlayEngineResult (*get_subtitle_shaded_background)(PlayEngineHandle handle, gboolean* shaded);
    PlayEngineResult (*get_subtitle_halignment)(PlayEngineHandle handle, SubtitleHAlign* align,
                                                gdouble* position);
    PlayEngineResult (*get_subtitle_valignment)(PlayEngineHandle handle, SubtitleVAlign* align,
                                                gdouble* position);
    /* With "appsink" as text sink: the text current at the playing position,
     * NUL-terminated within size, pts and duration in nanoseconds. An empty
     * text (and SUCCESS) when none is current. Non-zero only on failure. */
    PlayEngineResult (*get_subtitle_text)(PlayEngineHandle handle, gchar* buffer, guint32 size,
                                          guint64* pts, guint64* duration);
    /* handler may be NULL (no events). */
    PlayEngineResult (*reg_event_handler)(PlayEngineHandle handle, void* context,
                                          PlayEngineEventHandler handler);
    void* priv;
};

/* A new engine, or NULL on failure. */
PlayEngine* play_engine_create(void);
void play_engine_destroy(PlayEngine* engine);
/* Probed on this display at run time (once per process): 0 = an overlay
 * (Xv) video sink works, 1 = GL image output works. Non-zero when it does. */
gint play_engine_checkfeature(gint feature);

G_END_DECLS

#endif /* KORIN_PLAYENGINE_H */
