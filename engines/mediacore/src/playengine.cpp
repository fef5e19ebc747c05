/* The play engine: a GStreamer playbin behind the PlayEngine table. */
#include "engine_private.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <malloc.h>
#include <string.h>

/* playbin's GstPlayFlags (not in a public header). */
enum {
    PLAY_FLAG_VIDEO = 1 << 0,
    PLAY_FLAG_AUDIO = 1 << 1,
    PLAY_FLAG_TEXT = 1 << 2,
    PLAY_FLAG_VIS = 1 << 3,
};

static const guint DEFAULT_TIMEOUT_MS = 10000;

#define ENGINE_ENTER(handle)                                  \
    EnginePriv* p = engine_priv(handle);                      \
    if (!p)                                                   \
        return PLAYENGINE_ERROR_BAD_PARAM;                    \
    g_rec_mutex_locker_t_ locker(&p->api_lock)

/* Scoped lock on the engine's operation mutex. */
struct g_rec_mutex_locker_t_ {
    GRecMutex* m;
    explicit g_rec_mutex_locker_t_(GRecMutex* mutex) : m(mutex) { g_rec_mutex_lock(m); }
    ~g_rec_mutex_locker_t_() { g_rec_mutex_unlock(m); }
};

static gboolean ensure_gst(void)
{
    static gsize once = 0;
    static gboolean ok = FALSE;
    if (g_once_init_enter(&once)) {
        GError* err = nullptr;
        ok = gst_init_check(nullptr, nullptr, &err);
        if (!ok) {
            eng_warn("cannot initialise GStreamer: %s", err ? err->message : "unknown error");
            g_clear_error(&err);
        }
        g_once_init_leave(&once, 1);
    }
    return ok;
}

/* ---------------------------------------------------------------- events */

/* The handler can be replaced or cleared while events go out. */
static PlayEngineEventHandler registered_handler(EnginePriv* p, void** context)
{
    g_mutex_lock(&p->lock);
    PlayEngineEventHandler handler = p->ev_handler;
    *context = p->ev_context;
    g_mutex_unlock(&p->lock);
    return handler;
}

static void emit_event(EnginePriv* p, EventType type, void* data)
{
    void* context = nullptr;
    PlayEngineEventHandler handler = registered_handler(p, &context);
    if (handler)
        handler(context, type, data);
}

/* One failure makes several elements post errors: callers hear the first
 * of a load, naming the file; the rest are only logged. */
static gchar* first_error_text(EnginePriv* p, const gchar* reason)
{
    gchar* text = nullptr;
    g_mutex_lock(&p->lock);
    if (!p->error_told) {
        p->error_told = TRUE;
        text = g_strdup_printf("%s: cannot be played (%s)", p->file_name ? p->file_name : "?", reason);
    }
    g_mutex_unlock(&p->lock);
    return text;
}

static void dispatch_message(EnginePriv* p, GstMessage* msg)
{
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_EOS:
        if (!g_atomic_int_exchange(&p->eos_told, 1))
            emit_event(p, EVENT_ID_EOS, nullptr);
        break;
    case GST_MESSAGE_APPLICATION: /* the media's end, before the text's */
        if (gst_message_has_name(msg, MEDIA_END) && !g_atomic_int_exchange(&p->eos_told, 1))
            emit_event(p, EVENT_ID_EOS, nullptr);
        break;
    case GST_MESSAGE_ERROR: {
        GError* err = eng_bus_error(msg, "playback");
        gchar* text = first_error_text(p, err ? err->message : "unknown error");
        if (text)
            emit_event(p, EVENT_ID_ERROR, text);
        g_free(text);
        g_clear_error(&err);
        break;
    }
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(msg) == GST_OBJECT(p->playbin)) {
            PlayEngineState st;
            gst_message_parse_state_changed(msg, &st.old_st, &st.new_st, &st.pending_st);
            emit_event(p, EVENT_ID_STATE_CHANGE, &st);
        }
        break;
    case GST_MESSAGE_BUFFERING: {
        gint percent = 0;
        gst_message_parse_buffering(msg, &percent);
        emit_event(p, EVENT_ID_BUFFERING, &percent);
        break;
    }
    default:
        break;
    }
}

static gboolean trim_heap(gpointer)
{
    malloc_trim(0);
    return G_SOURCE_REMOVE;
}

static gboolean on_bus_message(GstBus*, GstMessage* msg, gpointer data)
{
    dispatch_message(static_cast<EnginePriv*>(data), msg);
    return G_SOURCE_CONTINUE;
}

static gboolean start_event_thread(EnginePriv* p)
{
    p->ctx = g_main_context_new();
    p->loop = g_main_loop_new(p->ctx, FALSE);
    p->bus_watch = gst_bus_create_watch(p->bus);
    if (!p->bus_watch) {
        eng_warn("cannot watch the pipeline's bus");
        return FALSE;
    }
    g_source_set_callback(p->bus_watch, G_SOURCE_FUNC(on_bus_message), p, nullptr);
    g_source_attach(p->bus_watch, p->ctx);
    /* The engine's own thread: its main loop delivers bus messages as
     * events until the engine is destroyed. */
    p->bus_thread = eng_loop_start(p->loop, "mediacore-bus");
    return p->bus_thread != nullptr;
}

/* Runs on the thread that posts: records what waiters need at once (errors,
 * tags) and hands the window to the video sink when it asks for it. */
static GstBusSyncReply bus_sync_handler(GstBus*, GstMessage* msg, gpointer data)
{
    EnginePriv* p = static_cast<EnginePriv*>(data);
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR: {
        g_mutex_lock(&p->lock);
        p->error_seen = TRUE;
        /* A GL sink that cannot start while a file loads is replaced and
         * the load tried again, so its error is not the caller's. */
        const gboolean gl_sink_error = p->loading && p->video_sink &&
            g_str_equal(GST_OBJECT_NAME(gst_element_get_factory(p->video_sink)), "glimagesink") &&
            (GST_MESSAGE_SRC(msg) == GST_OBJECT(p->video_sink) ||
             gst_object_has_as_ancestor(GST_MESSAGE_SRC(msg), GST_OBJECT(p->video_sink)));
        if (gl_sink_error)
            p->sink_failed = TRUE;
        g_mutex_unlock(&p->lock);
        if (gl_sink_error) {
            gst_message_unref(msg);
            return GST_BUS_DROP;
        }
        break;
    }
    case GST_MESSAGE_EOS:
        g_atomic_int_set(&p->at_eos, 1);
        break;
    case GST_MESSAGE_APPLICATION:
        if (gst_message_has_name(msg, MEDIA_END))
            g_atomic_int_set(&p->at_eos, 1);
        break;
    case GST_MESSAGE_TAG: {
        GstTagList* tags = nullptr;
        gst_message_parse_tag(msg, &tags);
        if (tags) {
            g_mutex_lock(&p->tag_lock);
            GstTagList* merged = gst_tag_list_merge(p->tags, tags, GST_TAG_MERGE_KEEP);
            if (p->tags)
                gst_tag_list_unref(p->tags);
            p->tags = merged;
            g_mutex_unlock(&p->tag_lock);
            gst_tag_list_unref(tags);
        }
        break;
    }
    case GST_MESSAGE_NEED_CONTEXT:
        sinks_gl_answer_context(p, msg);
        break;
    case GST_MESSAGE_ELEMENT:
        if (gst_is_video_overlay_prepare_window_handle_message(msg)) {
            sinks_apply_overlay(p, GST_ELEMENT(GST_MESSAGE_SRC(msg)));
            gst_message_unref(msg);
            return GST_BUS_DROP;
        }
        break;
    default:
        break;
    }
    return GST_BUS_PASS;
}

/* ------------------------------------------------------------ state help */

GstState engine_current_state(EnginePriv* p)
{
    GstState cur = GST_STATE_NULL;
    gst_element_get_state(p->playbin, &cur, nullptr, 0);
    return cur;
}

static gboolean error_was_seen(EnginePriv* p)
{
    g_mutex_lock(&p->lock);
    gboolean seen = p->error_seen;
    g_mutex_unlock(&p->lock);
    return seen;
}

/* Is any streaming thread of the pipeline still at work? */
static gboolean any_task_started(GstElement* pipeline)
{
    gboolean started = FALSE;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue ev = G_VALUE_INIT;
    while (!started && gst_iterator_next(elements, &ev) == GST_ITERATOR_OK) {
        GstIterator* pads = gst_element_iterate_pads(GST_ELEMENT(g_value_get_object(&ev)));
        GValue pv = G_VALUE_INIT;
        while (!started && gst_iterator_next(pads, &pv) == GST_ITERATOR_OK) {
            started = gst_pad_get_task_state(GST_PAD(g_value_get_object(&pv))) == GST_TASK_STARTED;
            g_value_reset(&pv);
        }
        g_value_unset(&pv);
        gst_iterator_free(pads);
        g_value_reset(&ev);
    }
    g_value_unset(&ev);
    gst_iterator_free(elements);
    return started;
}

/* Waits until the pipeline has committed to target, an error was posted, or
 * the deadline (monotonic time) has passed. While a file loads, a pipeline whose
 * streaming threads have all stopped will never preroll: decodebin can
 * swallow a demuxer's error while it is still plugging it, so that case is
 * turned into the error it stands for instead of waiting out the timeout. */
PlayEngineResult engine_wait_state(EnginePriv* p, GstState target, gboolean loading, gint64 deadline)
{
    const gint64 start = g_get_monotonic_time();
    gint64 next_check = start + 500 * 1000, idle_since = 0;
    for (;;) {
        GstState cur = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
        GstStateChangeReturn ret =
            gst_element_get_state(p->playbin, &cur, &pending, 20 * GST_MSECOND);
        if (ret == GST_STATE_CHANGE_FAILURE)
            return PLAYENGINE_FAILURE;
        if ((ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL) &&
            cur == target)
            return PLAYENGINE_SUCCESS;
        if (error_was_seen(p))
            return PLAYENGINE_FAILURE;
        const gint64 now = g_get_monotonic_time();
        if (now > deadline) {
            eng_warn("state change to %s timed out", gst_element_state_get_name(target));
            return PLAYENGINE_ERROR_TIMEOUT;
        }
        if (loading && now >= next_check) {
            next_check = now + 100 * 1000;
            if (any_task_started(p->playbin)) {
                idle_since = 0;
            } else if (!idle_since) {
                idle_since = now;
            } else if (now - idle_since > 300 * 1000) {
                GST_ELEMENT_ERROR(p->playbin, STREAM, FAILED,
                                  ("No playable stream could be loaded."),
                                  ("streaming stopped before the pipeline prerolled"));
                return PLAYENGINE_FAILURE;
            }
        }
    }
}

struct TextCue {
    guint64 pts;      /* stream time, ns */
    guint64 duration; /* ns, GST_CLOCK_TIME_NONE when open-ended */
    gchar* text;
};

static void free_cue(gpointer data)
{
    TextCue* cue = static_cast<TextCue*>(data);
    g_free(cue->text);
    g_free(cue);
}

/* Bounds the lines held at once: a whole subtitle file can arrive in one go. */
static const guint MAX_TEXT_CUES = 65536;

static void clear_text(EnginePriv* p)
{
    g_mutex_lock(&p->text_lock);
    g_queue_clear_full(&p->texts, free_cue);
    g_mutex_unlock(&p->text_lock);
}

static void release_caller_buffers(EnginePriv* p)
{
    g_ptr_array_set_size(p->frames, 0);
    g_clear_pointer(&p->album_art, g_free);
}

/* The bus sync handler looks at video_sink from streaming threads. */
static void set_video_sink_ref(EnginePriv* p, GstElement* sink)
{
    GstElement* ref = sink ? GST_ELEMENT(gst_object_ref(sink)) : nullptr;
    g_mutex_lock(&p->lock);
    GstElement* old = p->video_sink;
    p->video_sink = ref;
    g_mutex_unlock(&p->lock);
    if (old)
        gst_object_unref(old);
}

/* Makes sink the pipeline's video sink, with the display settings and the
 * turn in force. */
static void install_video_sink(EnginePriv* p, GstElement* sink)
{
    gst_object_ref_sink(sink);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "force-aspect-ratio"))
        g_object_set(sink, "force-aspect-ratio", p->keep_aspect, nullptr);
    set_video_sink_ref(p, sink);
    rotation_release(p);
    GstElement* used = rotation_by_sink(p) ? GST_ELEMENT(gst_object_ref(sink)) : rotation_wrap_sink(p, sink);
    g_object_set(p->playbin, "video-sink", used, nullptr);
    gst_object_unref(used);
    rotation_apply(p);
    sinks_apply_overlay(p, sink);
    if (g_str_equal(GST_OBJECT_NAME(gst_element_get_factory(sink)), "glimagesink"))
        sinks_gl_prepare(p);
    gst_object_unref(sink);
}

static void set_loading(EnginePriv* p, gboolean loading)
{
    g_mutex_lock(&p->lock);
    p->loading = loading;
    if (loading) {
        p->error_seen = FALSE;
        p->error_told = FALSE;
        p->sink_failed = FALSE;
    }
    g_mutex_unlock(&p->lock);
}

static gboolean gl_sink_failed(EnginePriv* p)
{
    g_mutex_lock(&p->lock);
    gboolean failed = p->sink_failed;
    g_mutex_unlock(&p->lock);
    return failed;
}

/* The end of the state-change time-out for an operation starting now. */
static gint64 engine_deadline(EnginePriv* p)
{
    return g_get_monotonic_time() + (gint64)p->timeout_ms * 1000;
}

static PlayEngineResult set_and_wait(EnginePriv* p, GstState target, gboolean load, gint64 deadline)
{
    if (load) {
        set_loading(p, TRUE);
        end_watch_reset(p);
    }
    GstStateChangeReturn ret = gst_element_set_state(p->playbin, target);
    return ret == GST_STATE_CHANGE_FAILURE ? PLAYENGINE_FAILURE
                                           : engine_wait_state(p, target, load, deadline);
}

/* The GL sink cannot draw here: from now on the engine uses another one. */
static gboolean replace_gl_sink(EnginePriv* p)
{
    sinks_gl_failed();
    GstElement* other = sinks_fallback_video_sink();
    if (!other)
        return FALSE;
    eng_info("glimagesink cannot draw on this display, using %s",
           GST_OBJECT_NAME(gst_element_get_factory(other)));
    install_video_sink(p, other);
    return TRUE;
}

static PlayEngineResult do_seek(EnginePriv* p, gdouble rate, guint64 position, gboolean accurate);

/* Moves the pipeline to target and waits; a failed load is torn down to
 * NULL so the next attempt starts clean. The whole of it, a failed load's
 * report and teardown included, stays within the state-change time-out: the
 * last eighth of it is kept for the report. */
static PlayEngineResult change_state(EnginePriv* p, GstState target)
{
    const gint64 deadline = engine_deadline(p);
    const gint64 reserve = (gint64)p->timeout_ms * 1000 / 8;
    const gboolean load = engine_current_state(p) <= GST_STATE_READY;
    gchar* uri = nullptr;
    g_object_get(p->playbin, "current-uri", &uri, nullptr);
    if (!uri)
        g_object_get(p->playbin, "uri", &uri, nullptr);
    if (!uri) {
        eng_warn("no file set");
        return PLAYENGINE_FAILURE;
    }

    if (load) {
        /* The engine's own sink, when the caller chose none: the best this
         * display has, which can also be turned. */
        GstElement* fallback = p->video_sink ? nullptr : sinks_fallback_video_sink();
        if (fallback)
            install_video_sink(p, fallback);
        /* GL that could not even be prepared is not tried again by the
         * sink: a second failed attempt can end the process with an X error. */
        if (sinks_gl_unusable(p))
            replace_gl_sink(p);
    }
    PlayEngineResult res = set_and_wait(p, target, load, load ? deadline - reserve : deadline);
    if (res != PLAYENGINE_SUCCESS && load && gl_sink_failed(p)) {
        /* The failed start used up playbin's file: give it again. */
        gchar* suburi = nullptr;
        g_object_get(p->playbin, "current-suburi", &suburi, nullptr);
        gst_element_set_state(p->playbin, GST_STATE_NULL);
        if (replace_gl_sink(p)) {
            g_object_set(p->playbin, "uri", uri, "suburi", suburi, nullptr);
            res = set_and_wait(p, target, load, deadline - reserve);
        }
        g_free(suburi);
    }
    g_free(uri);
    if (load)
        set_loading(p, FALSE);
    if (res != PLAYENGINE_SUCCESS) {
        eng_warn("cannot reach %s", gst_element_state_get_name(target));
        if (load) {
            /* Going to NULL flushes the bus: let the event thread take the
             * error first, so the caller hears why. The state change can fail
             * a moment before the streaming thread posts its error; should
             * none come at all, post one, since a failed load must be told. */
            const gint64 until = MIN(g_get_monotonic_time() + 500 * 1000, deadline - reserve / 2);
            while (!error_was_seen(p) && g_get_monotonic_time() < until)
                g_usleep(5000);
            if (!error_was_seen(p))
                GST_ELEMENT_ERROR(p->playbin, STREAM, FAILED,
                                  ("No playable stream could be loaded."),
                                  ("the pipeline failed to preroll without an error"));
            const gint64 drained = MIN(g_get_monotonic_time() + 500 * 1000, deadline - reserve / 4);
            while (gst_bus_have_pending(p->bus) && g_get_monotonic_time() < drained)
                g_usleep(5000);
            gst_element_set_state(p->playbin, GST_STATE_NULL);
        }
    }
    if (res == PLAYENGINE_SUCCESS && load)
        end_watch_sinks(p);
    /* A rate chosen while nothing was loaded takes effect now that the
     * pipeline has prerolled, whether pause or play loaded it. */
    if (res == PLAYENGINE_SUCCESS && load && p->rate != 1.0) {
        gint64 pos = 0;
        gst_element_query_position(p->playbin, GST_FORMAT_TIME, &pos);
        res = do_seek(p, p->rate, (guint64)MAX(pos, 0), TRUE);
    }
    return res;
}

/* A flushing seek at the given rate; for reverse play the segment runs from
 * 0 to the position. Waits until the pipeline has prerolled again. */
static PlayEngineResult do_seek(EnginePriv* p, gdouble rate, guint64 position, gboolean accurate)
{
    GstState cur = engine_current_state(p);
    if (cur < GST_STATE_PAUSED) {
        eng_warn("seek: no file loaded");
        return PLAYENGINE_FAILURE;
    }
    int flags = GST_SEEK_FLAG_FLUSH;
    flags |= accurate ? GST_SEEK_FLAG_ACCURATE : (GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_NEAREST);
    if (rate != 1.0)
        flags |= GST_SEEK_FLAG_TRICKMODE_NO_AUDIO;
    gboolean ok;
    if (rate > 0)
        ok = gst_element_seek(p->playbin, rate, GST_FORMAT_TIME, (GstSeekFlags)flags,
                              GST_SEEK_TYPE_SET, (gint64)position, GST_SEEK_TYPE_SET,
                              GST_CLOCK_TIME_NONE); /* also drops a reverse play's stop */
    else
        ok = gst_element_seek(p->playbin, rate, GST_FORMAT_TIME, (GstSeekFlags)flags,
                              GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_SET, (gint64)position);
    if (!ok) {
        eng_warn("seek to %" GST_TIME_FORMAT " at rate %g refused", GST_TIME_ARGS(position), rate);
        return PLAYENGINE_FAILURE;
    }
    end_watch_reset(p);
    return engine_wait_state(p, cur, FALSE, engine_deadline(p));
}

static gint query_n(EnginePriv* p, const char* prop)
{
    gint n = 0;
    g_object_get(p->playbin, prop, &n, nullptr);
    return n;
}

/* ------------------------------------------------------ text sink (appsink) */

static GstFlowReturn on_text_sample(GstAppSink* sink, gpointer data)
{
    EnginePriv* p = static_cast<EnginePriv*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstBuffer* buf = gst_sample_get_buffer(sample);
    const GstSegment* seg = gst_sample_get_segment(sample);
    GstMapInfo map;
    if (buf && gst_buffer_map(buf, &map, GST_MAP_READ)) {
        guint64 pts = GST_BUFFER_PTS(buf);
        if (seg && GST_CLOCK_TIME_IS_VALID(pts)) {
            guint64 st = gst_segment_to_stream_time(seg, GST_FORMAT_TIME, pts);
            if (GST_CLOCK_TIME_IS_VALID(st))
                pts = st;
        }
        TextCue* cue = g_new(TextCue, 1);
        cue->pts = GST_CLOCK_TIME_IS_VALID(pts) ? pts : 0;
        cue->duration = GST_BUFFER_DURATION(buf);
        cue->text = g_strchomp(g_strndup((const gchar*)map.data, map.size));
        gst_buffer_unmap(buf, &map);
        g_mutex_lock(&p->text_lock);
        if (p->texts.length < MAX_TEXT_CUES)
            g_queue_push_tail(&p->texts, cue);
        else
            free_cue(cue);
        g_mutex_unlock(&p->text_lock);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

/* Lines held from before a flush (a seek) are no longer current; those
 * after it may arrive before the seek call returns, so clear here. */
static GstPadProbeReturn on_text_flush(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
        clear_text(static_cast<EnginePriv*>(data));
    return GST_PAD_PROBE_OK;
}

static GstElement* make_text_appsink(EnginePriv* p)
{
    GstElement* sink = gst_element_factory_make("appsink", "korin-text-sink");
    if (!sink)
        return nullptr;
    GstAppSinkCallbacks cb;
    memset(&cb, 0, sizeof cb);
    cb.new_sample = on_text_sample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &cb, p, nullptr);
    /* Synchronised, so a text arrives when it is due; not prerolling, since
     * subtitle streams are sparse. */
    g_object_set(sink, "sync", TRUE, "async", FALSE, "max-buffers", 4, "drop", TRUE, nullptr);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    if (pad) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_FLUSH, on_text_flush, p, nullptr);
        gst_object_unref(pad);
    }
    return sink;
}

/* Subtitle overlays and sinks are created inside playbin when a file is
 * loaded: each overlay gets the configured style, an Xv sink the window;
 * typefinding's caps give the container name. */
static void on_have_type(GstElement*, guint, GstCaps* caps, gpointer data)
{
    EnginePriv* p = static_cast<EnginePriv*>(data);
    g_mutex_lock(&p->tag_lock);
    if (!p->container_caps)
        p->container_caps = gst_caps_copy(caps);
    g_mutex_unlock(&p->tag_lock);
}

static void on_deep_element_added(GstBin*, GstBin*, GstElement* element, gpointer data)
{
    EnginePriv* p = static_cast<EnginePriv*>(data);
    GstElementFactory* f = gst_element_get_factory(element);
    if (!f)
        return;
    const gchar* name = GST_OBJECT_NAME(f);
    if (g_str_equal(name, "textoverlay"))
        sinks_style_new_overlay(p, element);
    else if (g_str_equal(name, "xvimagesink"))
        sinks_apply_overlay(p, element); /* also inside a default autovideosink */
    else if (g_str_equal(name, "typefind"))
        g_signal_connect(element, "have-type", G_CALLBACK(on_have_type), p);
}

/* ------------------------------------------------------------- operations */

/* The last part of the location, as a file manager would show it. */
static void set_file_name(EnginePriv* p, const gchar* uri)
{
    gchar* location = gst_uri_get_location(uri);
    gchar* name = g_filename_display_basename(location ? location : uri);
    g_free(location);
    g_mutex_lock(&p->lock);
    g_free(p->file_name);
    p->file_name = name;
    g_mutex_unlock(&p->lock);
}

static PlayEngineResult op_set_file(PlayEngineHandle h, const gchar* file)
{
    ENGINE_ENTER(h);
    if (!file || !*file)
        return PLAYENGINE_ERROR_BAD_PARAM;
    gchar* uri = nullptr;
    if (gst_uri_is_valid(file)) {
        uri = g_strdup(file);
    } else {
        GError* err = nullptr;
        uri = gst_filename_to_uri(file, &err);
        if (!uri) {
            eng_warn("cannot make a URI of '%s': %s", file, err ? err->message : "?");
            g_clear_error(&err);
            return PLAYENGINE_ERROR_BAD_PARAM;
        }
    }
    gst_element_set_state(p->playbin, GST_STATE_NULL);
    set_file_name(p, uri);
    p->rate = 1.0;
    g_atomic_int_set(&p->subtitles_off, 0);
    clear_text(p);
    release_caller_buffers(p);
    g_mutex_lock(&p->tag_lock);
    g_clear_pointer(&p->tags, gst_tag_list_unref);
    g_clear_pointer(&p->container_caps, gst_caps_unref);
    g_mutex_unlock(&p->tag_lock);

    /* Only the text flag is touched: with playbin's other defaults decoders
     * are chosen by rank, so a board's hardware decoders are used, and their
     * frames reach the sink in their own memory (the colour balance and
     * deinterlace stages pass any memory through untouched). */
    gint flags = 0;
    g_object_get(p->playbin, "flags", &flags, nullptr);
    g_object_set(p->playbin, "uri", uri, "suburi", nullptr, "flags", flags | PLAY_FLAG_TEXT,
                 "current-video", -1, "current-audio", -1, "current-text", -1, nullptr);
    eng_info("file %s", uri);
    g_free(uri);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_play(PlayEngineHandle h)
{
    ENGINE_ENTER(h);
    GstState before = engine_current_state(p);
    if (before >= GST_STATE_PAUSED && g_atomic_int_get(&p->at_eos)) {
        /* Played to the end: play means the same item again, from 0. */
        p->rate = 1.0;
        PlayEngineResult res = do_seek(p, 1.0, 0, TRUE);
        if (res != PLAYENGINE_SUCCESS)
            return res;
    }
    return change_state(p, GST_STATE_PLAYING);
}

static PlayEngineResult op_pause(PlayEngineHandle h)
{
    ENGINE_ENTER(h);
    return change_state(p, GST_STATE_PAUSED);
}

static PlayEngineResult op_stop(PlayEngineHandle h)
{
    ENGINE_ENTER(h);
    GstStateChangeReturn ret = gst_element_set_state(p->playbin, GST_STATE_NULL);
    p->rate = 1.0;
    clear_text(p);
    release_caller_buffers(p);
    /* The decoders' freed frames stay in malloc's arenas and grew a
     * process by about 50 kB per file; they are handed back on the
     * engine's thread, since trimming a large heap holds the caller. */
    g_main_context_invoke(p->ctx, trim_heap, nullptr);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        eng_warn("stop failed");
        return PLAYENGINE_FAILURE;
    }
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_state(PlayEngineHandle h, GstState* state)
{
    EnginePriv* p = engine_priv(h);
    if (!p || !state)
        return PLAYENGINE_ERROR_BAD_PARAM;
    *state = engine_current_state(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_state_change_timeout(PlayEngineHandle h, guint timeout_ms)
{
    ENGINE_ENTER(h);
    if (timeout_ms == 0)
        return PLAYENGINE_ERROR_BAD_PARAM;
    p->timeout_ms = timeout_ms;
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_stop_wait_state_change(PlayEngineHandle h)
{
    ENGINE_ENTER(h);
    GstStateChangeReturn ret =
        gst_element_get_state(p->playbin, nullptr, nullptr, (GstClockTime)p->timeout_ms * GST_MSECOND);
    if (ret == GST_STATE_CHANGE_ASYNC)
        return PLAYENGINE_ERROR_TIMEOUT;
    return ret == GST_STATE_CHANGE_FAILURE ? PLAYENGINE_FAILURE : PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_seek(PlayEngineHandle h, guint64 position, gboolean accurate)
{
    ENGINE_ENTER(h);
    return do_seek(p, p->rate, position, accurate);
}

static PlayEngineResult op_set_play_rate(PlayEngineHandle h, gdouble rate)
{
    ENGINE_ENTER(h);
    if (rate == 0.0 || rate != rate || rate > 64.0 || rate < -64.0)
        return PLAYENGINE_ERROR_BAD_PARAM;
    if (engine_current_state(p) < GST_STATE_PAUSED) {
        p->rate = rate; /* applied when playback starts */
        return PLAYENGINE_SUCCESS;
    }
    gint64 pos = 0;
    if (!gst_element_query_position(p->playbin, GST_FORMAT_TIME, &pos) || pos < 0)
        pos = 0;
    PlayEngineResult res = do_seek(p, rate, (guint64)pos, TRUE);
    if (res == PLAYENGINE_SUCCESS)
        p->rate = rate;
    return res;
}

static PlayEngineResult op_get_play_rate(PlayEngineHandle h, gdouble* rate)
{
    ENGINE_ENTER(h);
    if (!rate)
        return PLAYENGINE_ERROR_BAD_PARAM;
    *rate = p->rate;
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_rotate(PlayEngineHandle h, gint degree)
{
    ENGINE_ENTER(h);
    if (degree != 0 && degree != 90 && degree != 180 && degree != 270)
        return PLAYENGINE_ERROR_BAD_PARAM;
    if (!p->flip_path && !rotation_by_sink(p))
        return PLAYENGINE_ERROR_NOT_SUPPORT;
    p->rotation = degree;
    rotation_apply(p);
    if (engine_current_state(p) != GST_STATE_PAUSED)
        return PLAYENGINE_SUCCESS; /* playing: the next frame comes turned */
    if (rotation_by_sink(p)) {
        sinks_expose(p);
        return PLAYENGINE_SUCCESS;
    }
    /* Paused: the frame on screen passes the filter again, turned. */
    gint64 pos = 0;
    if (!gst_element_query_position(p->playbin, GST_FORMAT_TIME, &pos) || pos < 0)
        pos = 0;
    return do_seek(p, p->rate, (guint64)pos, TRUE);
}

static PlayEngineResult op_get_rotate(PlayEngineHandle h, gint* degree)
{
    ENGINE_ENTER(h);
    if (!degree)
        return PLAYENGINE_ERROR_BAD_PARAM;
    *degree = p->rotation;
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_force_ratio(PlayEngineHandle h, gboolean keep)
{
    ENGINE_ENTER(h);
    g_mutex_lock(&p->lock);
    p->keep_aspect = keep ? TRUE : FALSE;
    g_mutex_unlock(&p->lock);
    g_object_set(p->playbin, "force-aspect-ratio", keep ? TRUE : FALSE, nullptr);
    if (p->video_sink && g_object_class_find_property(G_OBJECT_GET_CLASS(p->video_sink),
                                                      "force-aspect-ratio"))
        g_object_set(p->video_sink, "force-aspect-ratio", keep ? TRUE : FALSE, nullptr);
    sinks_expose(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_volume(PlayEngineHandle h, gdouble volume)
{
    ENGINE_ENTER(h);
    if (!(volume >= 0.0 && volume <= 1.0))
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_object_set(p->playbin, "volume", volume, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_volume(PlayEngineHandle h, gdouble* volume)
{
    ENGINE_ENTER(h);
    if (!volume)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_object_get(p->playbin, "volume", volume, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_mute(PlayEngineHandle h, gboolean mute)
{
    ENGINE_ENTER(h);
    g_object_set(p->playbin, "mute", mute ? TRUE : FALSE, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_mute(PlayEngineHandle h, gboolean* mute)
{
    ENGINE_ENTER(h);
    if (!mute)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_object_get(p->playbin, "mute", mute, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_seekable(PlayEngineHandle h, gboolean* seekable)
{
    ENGINE_ENTER(h);
    if (!seekable)
        return PLAYENGINE_ERROR_BAD_PARAM;
    *seekable = FALSE;
    GstQuery* q = gst_query_new_seeking(GST_FORMAT_TIME);
    if (gst_element_query(p->playbin, q))
        gst_query_parse_seeking(q, nullptr, seekable, nullptr, nullptr);
    gst_query_unref(q);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult get_count(PlayEngineHandle h, const char* prop, gint* num)
{
    ENGINE_ENTER(h);
    if (!num)
        return PLAYENGINE_ERROR_BAD_PARAM;
    *num = query_n(p, prop);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_subtitle_num(PlayEngineHandle h, gint* n) { return get_count(h, "n-text", n); }
static PlayEngineResult op_get_audio_num(PlayEngineHandle h, gint* n) { return get_count(h, "n-audio", n); }
static PlayEngineResult op_get_video_num(PlayEngineHandle h, gint* n) { return get_count(h, "n-video", n); }

static PlayEngineResult op_get_cur_subtitle_no(PlayEngineHandle h, gint* no)
{
    ENGINE_ENTER(h);
    if (!no)
        return PLAYENGINE_ERROR_BAD_PARAM;
    gint flags = 0;
    g_object_get(p->playbin, "flags", &flags, nullptr);
    *no = (flags & PLAY_FLAG_TEXT) ? query_n(p, "current-text") : -1;
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_cur_audio_no(PlayEngineHandle h, gint* no) { return get_count(h, "current-audio", no); }
static PlayEngineResult op_get_cur_video_no(PlayEngineHandle h, gint* no) { return get_count(h, "current-video", no); }

/* After a track switch while playing, a flushing seek to where playback is
 * drops what the old track had queued: the new track starts at once, and a
 * pause or seek right after cannot wait on data the selector will never
 * pass. While paused the switch takes effect when playing resumes. */
static PlayEngineResult flush_after_switch(EnginePriv* p)
{
    if (engine_current_state(p) != GST_STATE_PLAYING)
        return PLAYENGINE_SUCCESS;
    gint64 pos = 0;
    if (!gst_element_query_position(p->playbin, GST_FORMAT_TIME, &pos) || pos < 0)
        pos = 0;
    return do_seek(p, p->rate, (guint64)pos, TRUE);
}

static PlayEngineResult select_track(EnginePriv* p, const char* count_prop, const char* cur_prop,
                                     gint index)
{
    if (index < 0 || index >= query_n(p, count_prop))
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_object_set(p->playbin, cur_prop, index, nullptr);
    return flush_after_switch(p);
}

static PlayEngineResult op_select_subtitle(PlayEngineHandle h, gint index)
{
    ENGINE_ENTER(h);
    gint flags = 0;
    g_object_get(p->playbin, "flags", &flags, nullptr);
    if (index < 0) {
        g_atomic_int_set(&p->subtitles_off, 1);
        g_object_set(p->playbin, "flags", flags & ~PLAY_FLAG_TEXT, nullptr);
        clear_text(p);
        return PLAYENGINE_SUCCESS;
    }
    if (index >= query_n(p, "n-text"))
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_atomic_int_set(&p->subtitles_off, 0);
    g_object_set(p->playbin, "flags", flags | PLAY_FLAG_TEXT, "current-text", index, nullptr);
    clear_text(p);
    return flush_after_switch(p);
}

static PlayEngineResult op_select_audio(PlayEngineHandle h, gint index)
{
    ENGINE_ENTER(h);
    return select_track(p, "n-audio", "current-audio", index);
}

static PlayEngineResult op_select_video(PlayEngineHandle h, gint index)
{
    ENGINE_ENTER(h);
    return select_track(p, "n-video", "current-video", index);
}

static PlayEngineResult query_time(PlayEngineHandle h, gboolean duration, gint64* out)
{
    EnginePriv* p = engine_priv(h);
    if (!p || !out)
        return PLAYENGINE_ERROR_BAD_PARAM;
    gint64 v = 0;
    gboolean ok = duration ? gst_element_query_duration(p->playbin, GST_FORMAT_TIME, &v)
                           : gst_element_query_position(p->playbin, GST_FORMAT_TIME, &v);
    *out = ok && v >= 0 ? v : 0;
    return ok ? PLAYENGINE_SUCCESS : PLAYENGINE_FAILURE;
}

static PlayEngineResult op_get_duration(PlayEngineHandle h, gint64* d) { return query_time(h, TRUE, d); }
static PlayEngineResult op_get_position(PlayEngineHandle h, gint64* p) { return query_time(h, FALSE, p); }

/* A frame as RGB888 with rows padded to 4 bytes, in a buffer kept until stop. */
static PlayEngineResult op_get_video_thumbnail(PlayEngineHandle h, gint seconds, korin_image_info* info)
{
    ENGINE_ENTER(h);
    if (!info || seconds < 0)
        return PLAYENGINE_ERROR_BAD_PARAM;
    memset(info, 0, sizeof *info);
    GstState cur = engine_current_state(p);
    if (cur < GST_STATE_PAUSED) {
        eng_warn("thumbnail: no file loaded");
        return PLAYENGINE_FAILURE;
    }
    if (query_n(p, "n-video") < 1)
        return PLAYENGINE_ERROR_NOT_SUPPORT;

    gint64 before = 0;
    if (!gst_element_query_position(p->playbin, GST_FORMAT_TIME, &before) || before < 0)
        before = 0;
    guint64 target = (guint64)seconds * GST_SECOND;
    gint64 duration = 0;
    if (gst_element_query_duration(p->playbin, GST_FORMAT_TIME, &duration) && duration > 0 &&
        target + 100 * GST_MSECOND > (guint64)duration)
        target = duration > (gint64)(100 * GST_MSECOND) ? duration - 100 * GST_MSECOND : 0;
    PlayEngineResult res = do_seek(p, p->rate, target, TRUE);
    if (res != PLAYENGINE_SUCCESS)
        return res == PLAYENGINE_ERROR_TIMEOUT ? res : PLAYENGINE_FAILURE;

    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(p->playbin, "convert-sample", caps, &sample);
    gst_caps_unref(caps);
    if (!sample) {
        eng_warn("thumbnail: no frame at %d s", seconds);
        return PLAYENGINE_FAILURE;
    }
    res = PLAYENGINE_FAILURE;
    GstVideoInfo vinfo;
    GstBuffer* buf = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (buf && gst_video_info_from_caps(&vinfo, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &vinfo, buf, GST_MAP_READ)) {
        const gint w = GST_VIDEO_INFO_WIDTH(&vinfo), hgt = GST_VIDEO_INFO_HEIGHT(&vinfo);
        const gint src_stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const gint dst_stride = GST_ROUND_UP_4(w * 3);
        guint8* pixels = static_cast<guint8*>(g_malloc((gsize)dst_stride * hgt));
        const guint8* src = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        for (gint y = 0; y < hgt; ++y) {
            memcpy(pixels + (gsize)y * dst_stride, src + (gsize)y * src_stride, (gsize)w * 3);
            memset(pixels + (gsize)y * dst_stride + (gsize)w * 3, 0, dst_stride - (gsize)w * 3);
        }
        gst_video_frame_unmap(&frame);
        g_ptr_array_add(p->frames, pixels);
        info->image = pixels;
        info->size = (gsize)dst_stride * hgt;
        info->width = w;
        info->height = hgt;
        res = PLAYENGINE_SUCCESS;
    }
    gst_sample_unref(sample);
    /* Taking a picture does not move playback: go back to where it was. */
    if (do_seek(p, p->rate, (guint64)before, TRUE) != PLAYENGINE_SUCCESS)
        eng_warn("thumbnail: cannot return to %" GST_TIME_FORMAT, GST_TIME_ARGS(before));
    return res;
}

static PlayEngineResult op_get_metadata(PlayEngineHandle h, korin_metadata* md)
{
    ENGINE_ENTER(h);
    if (!md)
        return PLAYENGINE_ERROR_BAD_PARAM;
    return metadata_fill(p, md);
}

/* Hands the window, render rectangle and full-screen setting now in force
 * to the video sink, if one is set. */
static void overlay_settings_to_sink(EnginePriv* p)
{
    GstElement* sink = nullptr;
    g_object_get(p->playbin, "video-sink", &sink, nullptr);
    if (!sink)
        return;
    sinks_apply_overlay(p, sink);
    gst_object_unref(sink);
}

static PlayEngineResult op_set_window(PlayEngineHandle h, guintptr window)
{
    ENGINE_ENTER(h);
    g_mutex_lock(&p->lock);
    p->window = window;
    g_mutex_unlock(&p->lock);
    overlay_settings_to_sink(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_render_rect(PlayEngineHandle h, DisplayArea area)
{
    ENGINE_ENTER(h);
    g_mutex_lock(&p->lock);
    p->render_rect = area;
    g_mutex_unlock(&p->lock);
    overlay_settings_to_sink(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_expose_video(PlayEngineHandle h)
{
    ENGINE_ENTER(h);
    sinks_expose(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_fullscreen(PlayEngineHandle h, gboolean fullscreen)
{
    ENGINE_ENTER(h);
    g_mutex_lock(&p->lock);
    p->fullscreen = fullscreen ? TRUE : FALSE;
    g_mutex_unlock(&p->lock);
    overlay_settings_to_sink(p);
    sinks_expose(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_get_display_area(PlayEngineHandle h, DisplayArea* area)
{
    ENGINE_ENTER(h);
    if (!area)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_mutex_lock(&p->lock);
    DisplayArea rect = p->render_rect;
    gboolean whole = p->fullscreen || rect.width <= 0 || rect.height <= 0;
    guintptr window = p->window;
    g_mutex_unlock(&p->lock);
    if (!whole) {
        *area = rect;
        return PLAYENGINE_SUCCESS;
    }
    area->offsetx = area->offsety = 0;
    gint w = 0, hgt = 0;
    if (window && sinks_window_size(window, &w, &hgt)) {
        area->width = w;
        area->height = hgt;
        return PLAYENGINE_SUCCESS;
    }
    /* No window of ours: the video's own size. */
    area->width = area->height = 0;
    GstPad* pad = nullptr;
    if (query_n(p, "n-video") > 0)
        g_signal_emit_by_name(p->playbin, "get-video-pad", MAX(query_n(p, "current-video"), 0), &pad);
    if (pad) {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstVideoInfo vi;
        if (caps && gst_video_info_from_caps(&vi, caps)) {
            area->width = GST_VIDEO_INFO_WIDTH(&vi);
            area->height = GST_VIDEO_INFO_HEIGHT(&vi);
        }
        if (caps)
            gst_caps_unref(caps);
        gst_object_unref(pad);
    }
    return area->width > 0 ? PLAYENGINE_SUCCESS : PLAYENGINE_FAILURE;
}

static gboolean pipeline_idle(EnginePriv* p)
{
    if (engine_current_state(p) > GST_STATE_READY) {
        eng_warn("sinks can only be changed while nothing is loaded");
        return FALSE;
    }
    return TRUE;
}

static PlayEngineResult op_set_text_sink(PlayEngineHandle h, const gchar* name)
{
    ENGINE_ENTER(h);
    if (!pipeline_idle(p))
        return PLAYENGINE_FAILURE;
    GstElement* sink = nullptr;
    if (name && g_str_equal(name, "appsink")) {
        sink = make_text_appsink(p);
    } else if (name) {
        sink = gst_element_factory_make(name, nullptr);
        if (!sink) {
            eng_warn("text sink '%s' does not exist here", name);
            return PLAYENGINE_ERROR_BAD_PARAM;
        }
    }
    if (p->text_appsink)
        gst_object_unref(p->text_appsink);
    p->text_appsink = nullptr;
    if (sink && name && g_str_equal(name, "appsink"))
        p->text_appsink = GST_ELEMENT(gst_object_ref(sink));
    g_object_set(p->playbin, "text-sink", sink, nullptr);
    clear_text(p);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_video_sink(PlayEngineHandle h, const gchar* name)
{
    ENGINE_ENTER(h);
    if (!pipeline_idle(p))
        return PLAYENGINE_FAILURE;
    GstElement* sink = sinks_make_video_sink(name);
    if (!sink && name)
        return PLAYENGINE_FAILURE;
    if (!sink) { /* back to the engine's default, chosen at the next load */
        set_video_sink_ref(p, nullptr);
        rotation_release(p);
        g_object_set(p->playbin, "video-sink", nullptr, nullptr);
        return PLAYENGINE_SUCCESS;
    }
    install_video_sink(p, sink);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_audio_sink(PlayEngineHandle h, const gchar* name)
{
    ENGINE_ENTER(h);
    if (!pipeline_idle(p))
        return PLAYENGINE_FAILURE;
    GstElement* sink = name ? sinks_make_audio_sink(name) : nullptr;
    if (name && !sink)
        return PLAYENGINE_FAILURE;
    g_object_set(p->playbin, "audio-sink", sink, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_visual(PlayEngineHandle h, const gchar* name)
{
    ENGINE_ENTER(h);
    gint flags = 0;
    g_object_get(p->playbin, "flags", &flags, nullptr);
    if (!name) {
        g_object_set(p->playbin, "flags", flags & ~PLAY_FLAG_VIS, nullptr);
        return PLAYENGINE_SUCCESS;
    }
    GstElement* vis = gst_element_factory_make(name, nullptr);
    if (!vis) {
        eng_warn("visualisation '%s' does not exist here", name);
        return PLAYENGINE_ERROR_BAD_PARAM;
    }
    g_object_set(p->playbin, "vis-plugin", vis, "flags", flags | PLAY_FLAG_VIS, nullptr);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_set_subtitle_uri(PlayEngineHandle h, const gchar* path)
{
    ENGINE_ENTER(h);
    if (!path) {
        g_object_set(p->playbin, "suburi", nullptr, nullptr);
        return PLAYENGINE_SUCCESS;
    }
    gchar* uri = nullptr;
    if (gst_uri_is_valid(path)) {
        uri = g_strdup(path);
    } else {
        if (!g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
            eng_warn("subtitle file '%s' not found", path);
            return PLAYENGINE_ERROR_BAD_PARAM;
        }
        uri = gst_filename_to_uri(path, nullptr);
    }
    if (!uri)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_object_set(p->playbin, "suburi", uri, nullptr);
    g_free(uri);
    return PLAYENGINE_SUCCESS;
}

/* Subtitle style: stored, then pushed to every overlay that exists. */
#define SUBTITLE_SETTER(assign)               \
    ENGINE_ENTER(h);                          \
    g_mutex_lock(&p->lock);                   \
    assign;                                   \
    g_mutex_unlock(&p->lock);                 \
    sinks_apply_subtitle_style_all(p);        \
    return PLAYENGINE_SUCCESS

static PlayEngineResult op_set_subtitle_font(PlayEngineHandle h, const gchar* desc)
{
    if (!desc)
        return PLAYENGINE_ERROR_BAD_PARAM;
    SUBTITLE_SETTER((g_free(p->sub_font), p->sub_font = g_strdup(desc)));
}
static PlayEngineResult op_set_subtitle_color(PlayEngineHandle h, guint argb)
{
    SUBTITLE_SETTER(p->sub_color = argb);
}
static PlayEngineResult op_set_subtitle_outline_color(PlayEngineHandle h, guint argb)
{
    SUBTITLE_SETTER(p->sub_outline_color = argb);
}
static PlayEngineResult op_set_subtitle_shaded_background(PlayEngineHandle h, gboolean shaded)
{
    SUBTITLE_SETTER(p->sub_shaded = shaded ? TRUE : FALSE);
}
static PlayEngineResult op_set_subtitle_halignment(PlayEngineHandle h, SubtitleHAlign a, gdouble pos)
{
    if (a != SUBTITLE_H_ALIGN_LEFT && a != SUBTITLE_H_ALIGN_CENTER && a != SUBTITLE_H_ALIGN_RIGHT &&
        a != SUBTITLE_H_ALIGN_POSITION)
        return PLAYENGINE_ERROR_BAD_PARAM;
    SUBTITLE_SETTER((p->sub_halign = a, p->sub_hpos = CLAMP(pos, 0.0, 1.0)));
}
static PlayEngineResult op_set_subtitle_valignment(PlayEngineHandle h, SubtitleVAlign a, gdouble pos)
{
    if ((int)a < SUBTITLE_V_ALIGN_BASELINE || (int)a > SUBTITLE_V_ALIGN_CENTER)
        return PLAYENGINE_ERROR_BAD_PARAM;
    SUBTITLE_SETTER((p->sub_valign = a, p->sub_vpos = CLAMP(pos, 0.0, 1.0)));
}

static PlayEngineResult op_get_subtitle_font(PlayEngineHandle h, gchar* buffer, gsize size)
{
    ENGINE_ENTER(h);
    if (!buffer || size == 0)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_mutex_lock(&p->lock);
    metadata_copy_text(buffer, size, p->sub_font);
    g_mutex_unlock(&p->lock);
    return PLAYENGINE_SUCCESS;
}

#define SUBTITLE_GETTER(out, assign)          \
    ENGINE_ENTER(h);                          \
    if (!(out))                               \
        return PLAYENGINE_ERROR_BAD_PARAM;    \
    g_mutex_lock(&p->lock);                   \
    assign;                                   \
    g_mutex_unlock(&p->lock);                 \
    return PLAYENGINE_SUCCESS

static PlayEngineResult op_get_subtitle_color(PlayEngineHandle h, guint* argb)
{
    SUBTITLE_GETTER(argb, *argb = p->sub_color);
}
static PlayEngineResult op_get_subtitle_outline_color(PlayEngineHandle h, guint* argb)
{
    SUBTITLE_GETTER(argb, *argb = p->sub_outline_color);
}
static PlayEngineResult op_get_subtitle_shaded_background(PlayEngineHandle h, gboolean* shaded)
{
    SUBTITLE_GETTER(shaded, *shaded = p->sub_shaded);
}
static PlayEngineResult op_get_subtitle_halignment(PlayEngineHandle h, SubtitleHAlign* a, gdouble* pos)
{
    SUBTITLE_GETTER(a, (*a = p->sub_halign, pos ? (void)(*pos = p->sub_hpos) : (void)0));
}
static PlayEngineResult op_get_subtitle_valignment(PlayEngineHandle h, SubtitleVAlign* a, gdouble* pos)
{
    SUBTITLE_GETTER(a, (*a = p->sub_valign, pos ? (void)(*pos = p->sub_vpos) : (void)0));
}

static PlayEngineResult op_get_subtitle_text(PlayEngineHandle h, gchar* buffer, guint32 size,
                                             guint64* pts, guint64* duration)
{
    EnginePriv* p = engine_priv(h);
    if (!p || !buffer || size == 0)
        return PLAYENGINE_ERROR_BAD_PARAM;
    buffer[0] = '\0';
    if (pts)
        *pts = 0;
    if (duration)
        *duration = 0;
    if (g_atomic_int_get(&p->subtitles_off))
        return PLAYENGINE_SUCCESS;
    gint64 pos = -1;
    gboolean have_pos = gst_element_query_position(p->playbin, GST_FORMAT_TIME, &pos);
    if (!have_pos || pos < 0)
        return PLAYENGINE_SUCCESS;
    const guint64 due = (guint64)pos + 50 * GST_MSECOND;
    g_mutex_lock(&p->text_lock);
    /* A line is superseded once the next one has started. */
    while (p->texts.length > 1 && static_cast<TextCue*>(g_queue_peek_nth(&p->texts, 1))->pts <= due)
        free_cue(g_queue_pop_head(&p->texts));
    const TextCue* cue = static_cast<const TextCue*>(g_queue_peek_head(&p->texts));
    if (cue && due >= cue->pts &&
        (!GST_CLOCK_TIME_IS_VALID(cue->duration) || (guint64)pos < cue->pts + cue->duration)) {
        metadata_copy_text(buffer, size, cue->text);
        if (pts)
            *pts = cue->pts;
        if (duration)
            *duration = GST_CLOCK_TIME_IS_VALID(cue->duration) ? cue->duration : 0;
    }
    g_mutex_unlock(&p->text_lock);
    return PLAYENGINE_SUCCESS;
}

static PlayEngineResult op_reg_event_handler(PlayEngineHandle h, void* context,
                                             PlayEngineEventHandler handler)
{
    EnginePriv* p = engine_priv(h);
    if (!p)
        return PLAYENGINE_ERROR_BAD_PARAM;
    g_mutex_lock(&p->lock);
    p->ev_context = context;
    p->ev_handler = handler;
    g_mutex_unlock(&p->lock);
    return PLAYENGINE_SUCCESS;
}

/* ----------------------------------------------------- create and destroy */

static const PlayEngine engine_template = {
    op_set_file, op_play, op_stop, op_pause, op_get_state, op_set_state_change_timeout,
    op_stop_wait_state_change, op_seek, op_set_play_rate, op_get_play_rate, op_set_rotate,
    op_get_rotate, op_force_ratio, op_set_volume, op_get_volume, op_set_mute, op_get_mute,
    op_get_seekable, op_get_subtitle_num, op_get_audio_num, op_get_video_num,
    op_get_cur_subtitle_no, op_get_cur_audio_no, op_get_cur_video_no, op_get_video_thumbnail,
    op_select_subtitle, op_select_audio, op_select_video, op_get_duration, op_get_position,
    op_get_metadata, op_set_window, op_set_render_rect, op_expose_video, op_set_fullscreen,
    op_get_display_area, op_set_text_sink, op_set_video_sink, op_set_audio_sink, op_set_visual,
    op_set_subtitle_uri, op_set_subtitle_font, op_set_subtitle_color,
    op_set_subtitle_outline_color, op_set_subtitle_shaded_background, op_set_subtitle_halignment,
    op_set_subtitle_valignment, op_get_subtitle_font, op_get_subtitle_color,
    op_get_subtitle_outline_color, op_get_subtitle_shaded_background, op_get_subtitle_halignment,
    op_get_subtitle_valignment, op_get_subtitle_text, op_reg_event_handler, nullptr,
};

static void free_priv(EnginePriv* p)
{
    if (p->bus_watch) {
        g_source_destroy(p->bus_watch);
        g_source_unref(p->bus_watch);
    }
    if (p->loop)
        g_main_loop_unref(p->loop);
    if (p->ctx)
        g_main_context_unref(p->ctx);
    if (p->playbin)
        gst_object_unref(p->playbin);
    sinks_gl_release(p);
    if (p->bus)
        gst_object_unref(p->bus);
    if (p->video_sink)
        gst_object_unref(p->video_sink);
    if (p->text_appsink)
        gst_object_unref(p->text_appsink);
    rotation_release(p);
    if (p->tags)
        gst_tag_list_unref(p->tags);
    if (p->container_caps)
        gst_caps_unref(p->container_caps);
    if (p->frames)
        g_ptr_array_unref(p->frames);
    if (p->media_pads)
        g_ptr_array_unref(p->media_pads);
    g_free(p->album_art);
    g_queue_clear_full(&p->texts, free_cue);
    g_free(p->sub_font);
    g_free(p->file_name);
    g_rec_mutex_clear(&p->api_lock);
    g_mutex_clear(&p->lock);
    g_mutex_clear(&p->text_lock);
    g_mutex_clear(&p->tag_lock);
    g_free(p);
}

extern "C" __attribute__((visibility("default"))) PlayEngine* play_engine_create(void)
{
    if (!ensure_gst())
        return nullptr;
    EnginePriv* p = g_new0(EnginePriv, 1);
    g_rec_mutex_init(&p->api_lock);
    g_mutex_init(&p->lock);
    g_mutex_init(&p->text_lock);
    g_mutex_init(&p->tag_lock);
    p->frames = g_ptr_array_new_with_free_func(g_free);
    p->media_pads = g_ptr_array_new_with_free_func(gst_object_unref);
    p->rate = 1.0;
    p->timeout_ms = DEFAULT_TIMEOUT_MS;
    p->keep_aspect = TRUE;
    p->sub_font = g_strdup("Sans,Bold 18");
    p->sub_color = 0xffffffff;
    p->sub_outline_color = 0xff000000;
    p->sub_halign = SUBTITLE_H_ALIGN_CENTER;
    p->sub_valign = SUBTITLE_V_ALIGN_BASELINE;

    p->playbin = gst_element_factory_make("playbin", nullptr);
    if (!p->playbin) {
        eng_warn("playbin is not available");
        free_priv(p);
        return nullptr;
    }
    gst_object_ref_sink(p->playbin);
    g_object_set(p->playbin, "subtitle-font-desc", p->sub_font, nullptr);
    g_signal_connect(p->playbin, "deep-element-added", G_CALLBACK(on_deep_element_added), p);

    p->bus = gst_element_get_bus(p->playbin);
    gst_bus_set_sync_handler(p->bus, bus_sync_handler, p, nullptr);

    PlayEngine* table = g_new(PlayEngine, 1);
    *table = engine_template;
    table->priv = p;
    p->table = table;

    if (!start_event_thread(p)) {
        gst_bus_set_sync_handler(p->bus, nullptr, nullptr, nullptr);
        free_priv(p);
        g_free(table);
        return nullptr;
    }
    return table;
}

extern "C" __attribute__((visibility("default"))) void play_engine_destroy(PlayEngine* engine)
{
    EnginePriv* p = engine_priv(engine);
    if (!p)
        return;
    g_mutex_lock(&p->lock);
    p->ev_handler = nullptr;
    p->ev_context = nullptr;
    g_mutex_unlock(&p->lock);
    g_rec_mutex_lock(&p->api_lock);
    gst_element_set_state(p->playbin, GST_STATE_NULL);
    g_rec_mutex_unlock(&p->api_lock);

    eng_loop_quit(p->loop);
    if (p->bus_thread == g_thread_self()) {
        /* Freeing now would pull the engine from under the running event
         * thread: stopped and left to end by itself instead. */
        eng_warn("engine destroyed from its own event handler: not freed");
        g_thread_unref(p->bus_thread);
        return;
    }
    g_thread_join(p->bus_thread);
    gst_bus_set_sync_handler(p->bus, nullptr, nullptr, nullptr);
    engine->priv = nullptr;
    free_priv(p);
    g_free(engine);
}

extern "C" __attribute__((visibility("default"))) gint play_engine_checkfeature(gint feature);
gint sinks_check_feature(gint feature);

gint play_engine_checkfeature(gint feature)
{
    if (!ensure_gst())
        return 0;
    return sinks_check_feature(feature);
}

/* The record layout callers compile against. */
#include <stddef.h>
static_assert(sizeof(korin_audio_info) == 140, "korin_audio_info layout");
static_assert(sizeof(korin_video_info) == 148, "korin_video_info layout");
static_assert(sizeof(korin_subtitle_info) == 128, "korin_subtitle_info layout");
static_assert(sizeof(korin_image_info) == 24, "korin_image_info layout");
static_assert(offsetof(korin_metadata, n_audio) == 3776, "korin_metadata layout");
static_assert(offsetof(korin_metadata, audio_info) == 3804, "korin_metadata layout");
static_assert(offsetof(korin_metadata, video_info) == 4924, "korin_metadata layout");
static_assert(offsetof(korin_metadata, subtitle_info) == 6108, "korin_metadata layout");
static_assert(offsetof(korin_metadata, album_art_info) == 7136, "korin_metadata layout");
static_assert(sizeof(korin_metadata) == 7160, "korin_metadata layout");
static_assert(sizeof(DisplayArea) == 16, "DisplayArea layout");
static_assert(offsetof(PlayEngine, priv) == 55 * sizeof(void*), "PlayEngine slot count");
