/* Internal state of a play engine, shared by the engine's source files. */
#ifndef KORIN_ENGINE_PRIVATE_H
#define KORIN_ENGINE_PRIVATE_H

#include "playengine.h"

#include <gst/gst.h>

#include "engine_common.h"

struct EnginePriv {
    PlayEngine* table;
    GstElement* playbin;
    GstBus* bus;
    GThread* bus_thread;  /* runs loop: the bus watch delivers the events */
    GMainContext* ctx;
    GMainLoop* loop;
    GSource* bus_watch;
    gint at_eos;         /* atomic: playback reached the end */
    gint eos_told;       /* atomic: the end went out as an event */
    gint subtitles_off;  /* atomic: select_subtitle(-1) */

    /* Serialises the operations that change the pipeline. Never held while
     * events are delivered; get_state and get_subtitle_text do not take it. */
    GRecMutex api_lock;

    /* Guards what the streaming and bus threads look at: the error flag,
     * the event handler and the display configuration below. */
    GMutex lock;
    gboolean error_seen;
    gboolean loading;     /* a file is on its way to PAUSED or PLAYING */
    gboolean sink_failed; /* the GL sink could not start during the load */
    gboolean error_told;  /* the load's first error went out as an event */
    gchar* file_name;     /* the current file as users know it, for error texts */
    void* ev_context;
    PlayEngineEventHandler ev_handler;

    guintptr window;
    DisplayArea render_rect; /* width/height <= 0: the whole window */
    gboolean fullscreen;
    gboolean keep_aspect;

    gchar* sub_font;
    guint sub_color;
    guint sub_outline_color;
    gboolean sub_shaded;
    SubtitleHAlign sub_halign;
    gdouble sub_hpos;
    SubtitleVAlign sub_valign;
    gdouble sub_vpos;

    /* Sinks in use (owned references; a NULL video sink: the engine's own,
     * chosen at the next load). */
    GstElement* video_sink;
    struct GlShare* gl;       /* GL display and context prepared ahead */
    GstElement* text_appsink; /* set when the text sink is "appsink" */
    struct FlipPath* flip_path; /* videoflip before a sink that cannot turn */
    gint rotation;
    gdouble rate;
    guint timeout_ms;

    /* Subtitle lines from the appsink text sink, oldest first (TextCue*).
     * Kept as a list because after a flushing seek the sink may hand over
     * lines ahead of their time; the playing position picks the current one. */
    GMutex text_lock;
    GQueue texts;

    /* Tags posted on the bus for the current file, and the container's
     * caps as typefinding saw them. */
    GMutex tag_lock;
    GstTagList* tags;
    GstCaps* container_caps;

    /* Buffers handed to callers: thumbnails until stop, album art until the
     * next get_metadata or stop. */
    GPtrArray* frames;
    GPtrArray* media_pads; /* video and audio sink pads, watched for their end */
    guint8* album_art;
};

static inline EnginePriv* engine_priv(PlayEngineHandle handle)
{
    PlayEngine* table = static_cast<PlayEngine*>(handle);
    return table ? static_cast<EnginePriv*>(table->priv) : nullptr;
}

/* engine_sinks.cpp */
GstElement* sinks_make_video_sink(const gchar* name);
GstElement* sinks_fallback_video_sink(void);
void sinks_gl_failed(void);
void sinks_gl_prepare(EnginePriv* p);
gboolean sinks_gl_answer_context(EnginePriv* p, GstMessage* msg);
gboolean sinks_gl_unusable(EnginePriv* p);
void sinks_gl_release(EnginePriv* p);
GstElement* sinks_make_audio_sink(const gchar* name);
void sinks_apply_overlay(EnginePriv* p, GstElement* sink);
void sinks_expose(EnginePriv* p);
gboolean sinks_window_size(guintptr window, gint* width, gint* height);
void sinks_style_new_overlay(EnginePriv* p, GstElement* overlay);
void sinks_apply_subtitle_style_all(EnginePriv* p);

/* engine_metadata.cpp */
PlayEngineResult metadata_fill(EnginePriv* p, korin_metadata* md);
void metadata_copy_text(gchar* dst, gsize size, const gchar* src);

/* engine_rotation.cpp */
gboolean rotation_by_sink(EnginePriv* p);
void rotation_apply(EnginePriv* p);
GstElement* rotation_wrap_sink(EnginePriv* p, GstElement* sink);
void rotation_release(EnginePriv* p);

/* engine_end.cpp: the media's end, posted ahead of a longer subtitle file's */
#define MEDIA_END "korin-media-end"
void end_watch_reset(EnginePriv* p);
void end_watch_sinks(EnginePriv* p);

/* playengine.cpp */
PlayEngineResult engine_wait_state(EnginePriv* p, GstState target, gboolean loading, gint64 deadline);
GstState engine_current_state(EnginePriv* p);

#endif
