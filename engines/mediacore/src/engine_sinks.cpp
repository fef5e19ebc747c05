/* Video, audio and text sinks: choosing real elements for the names callers
 * give, handing them the X11 window, the colour key and the subtitle style,
 * and probing what the display offers. */
#include "engine_private.h"
#include "korin_colorkey.h"

#include <gst/gl/gl.h>
#include <gst/video/videooverlay.h>
#include <xcb/xcb.h>

#include <stdlib.h>
#include <string.h>

/* An Xv sink shows video only where the application painted the key. */
static void configure_xv(GstElement* sink)
{
    const guint32 rgb = korin_colorkey_rgb(korin_colorkey_value(g_getenv("COLORKEY")));
    g_object_set(sink, "autopaint-colorkey", FALSE, "colorkey", (gint)rgb, nullptr);
}

static gboolean is_factory(GstElement* e, const char* name)
{
    GstElementFactory* f = gst_element_get_factory(e);
    return f && g_str_equal(GST_OBJECT_NAME(f), name);
}

/* ----------------------------------------------------------- X11 access */

struct XConn {
    xcb_connection_t* conn;
    xcb_screen_t* screen;
};

static gboolean x_open(XConn* x)
{
    int screen_num = 0;
    x->conn = nullptr;
    x->screen = nullptr;
    if (!g_getenv("DISPLAY"))
        return FALSE;
    /* An X server may refuse a connection made right after another one:
     * a few tries, a little apart. */
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt)
            g_usleep(20 * 1000);
        x->conn = xcb_connect(nullptr, &screen_num);
        if (x->conn && !xcb_connection_has_error(x->conn))
            break;
        if (x->conn)
            xcb_disconnect(x->conn);
        x->conn = nullptr;
    }
    if (!x->conn)
        return FALSE;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x->conn));
    for (; it.rem; --screen_num, xcb_screen_next(&it)) {
        if (screen_num == 0) {
            x->screen = it.data;
            break;
        }
    }
    if (!x->screen) {
        xcb_disconnect(x->conn);
        x->conn = nullptr;
        return FALSE;
    }
    return TRUE;
}

gboolean sinks_window_size(guintptr window, gint* width, gint* height)
{
    XConn x;
    if (!window || !x_open(&x))
        return FALSE;
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(x.conn, xcb_get_geometry(x.conn, (xcb_drawable_t)window), nullptr);
    gboolean ok = g != nullptr;
    if (g) {
        *width = g->width;
        *height = g->height;
        free(g);
    }
    xcb_disconnect(x.conn);
    return ok;
}

/* Does this sink preroll a frame into a window on this display? The probe
 * draws into an unmapped window of its own, so nothing flashes on screen. */
static gboolean probe_sink(const char* factory)
{
    XConn x;
    if (!x_open(&x))
        return FALSE;
    xcb_window_t win = xcb_generate_id(x.conn);
    xcb_create_window(x.conn, XCB_COPY_FROM_PARENT, win, x.screen->root, 0, 0, 64, 48, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, x.screen->root_visual, 0, nullptr);
    free(xcb_get_geometry_reply(x.conn, xcb_get_geometry(x.conn, win), nullptr)); /* round trip */

    gboolean ok = FALSE;
    gchar* desc = g_strdup_printf(
        "videotestsrc num-buffers=1 ! video/x-raw,width=64,height=48 ! %s name=probe", factory);
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(desc, &err);
    g_free(desc);
    if (pipeline && !err) {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "probe");
        if (sink) {
            if (GST_IS_VIDEO_OVERLAY(sink))
                gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), win);
            gst_object_unref(sink);
        }
        if (gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE)
            ok = gst_element_get_state(pipeline, nullptr, nullptr, 3 * GST_SECOND) ==
                 GST_STATE_CHANGE_SUCCESS;
        gst_element_set_state(pipeline, GST_STATE_NULL);
    }
    g_clear_error(&err);
    if (pipeline)
        gst_object_unref(pipeline);
    xcb_destroy_window(x.conn, win);
    xcb_flush(x.conn);
    xcb_disconnect(x.conn);
    eng_info("%s %s on this display", factory, ok ? "works" : "does not work");
    return ok;
}

/* Does the display offer this X extension? */
static gboolean has_extension(const char* name)
{
    XConn x;
    if (!x_open(&x))
        return FALSE;
    xcb_query_extension_reply_t* r = xcb_query_extension_reply(
        x.conn, xcb_query_extension(x.conn, (uint16_t)strlen(name), name), nullptr);
    const gboolean present = r && r->present;
    free(r);
    xcb_disconnect(x.conn);
    return present;
}

static gsize feature_once[2] = {0, 0};
static gint feature_result[2] = {0, 0};

/* Without the XVideo extension the overlay sink cannot work, and that is
 * known without a probe. With GLX, a GL context would cost as much as the
 * real sink's own (tens of milliseconds on a software renderer), so GL is
 * taken as working; should the GL sink then fail to start, the load falls
 * back to another sink (sinks_gl_failed). */
gint sinks_check_feature(gint feature)
{
    static const char* const factories[2] = {"xvimagesink", "glimagesink"};
    static const char* const extensions[2] = {"XVideo", "GLX"};
    if (feature < 0 || feature > 1)
        return 0;
    if (g_once_init_enter(&feature_once[feature])) {
        GstElementFactory* f = gst_element_factory_find(factories[feature]);
        gint works = 0;
        if (f) {
            gst_object_unref(f);
            const gboolean ext = has_extension(extensions[feature]);
            if (ext == (feature == 1))
                works = ext ? 1 : 0;
            else
                works = probe_sink(factories[feature]) ? 1 : 0;
        }
        feature_result[feature] = works;
        g_once_init_leave(&feature_once[feature], 1);
    }
    return g_atomic_int_get(&feature_result[feature]);
}

void sinks_gl_failed(void)
{
    sinks_check_feature(1);
    g_atomic_int_set(&feature_result[1], 0);
}

static gboolean have_display(void)
{
    XConn x;
    if (!x_open(&x))
        return FALSE;
    xcb_disconnect(x.conn);
    return TRUE;
}

/* A fake sink still takes its buffers at their time, so playback through
 * it runs in real time, as through a real one. */
static void sync_fake_sink(GstElement* sink)
{
    if (sink && is_factory(sink, "fakesink"))
        g_object_set(sink, "sync", TRUE, nullptr);
}

/* The nearest real sink when a platform sink is missing: the overlay, GL,
 * plain X11, or no display at all (frames are still timed). */
GstElement* sinks_fallback_video_sink(void)
{
    GstElement* sink = nullptr;
    if (sinks_check_feature(0))
        sink = gst_element_factory_make("xvimagesink", nullptr);
    if (!sink && sinks_check_feature(1))
        sink = gst_element_factory_make("glimagesink", nullptr);
    if (!sink && have_display())
        sink = gst_element_factory_make("ximagesink", nullptr);
    if (!sink)
        sink = gst_element_factory_make("fakesink", nullptr);
    sync_fake_sink(sink);
    return sink;
}

GstElement* sinks_make_video_sink(const gchar* name)
{
    if (!name)
        return nullptr;
    GstElement* sink = gst_element_factory_make(name, nullptr);
    if (!sink) {
        sink = sinks_fallback_video_sink();
        eng_info("video sink '%s' does not exist here, using '%s'", name,
               sink ? GST_OBJECT_NAME(gst_element_get_factory(sink)) : "none");
    }
    if (sink && is_factory(sink, "xvimagesink"))
        configure_xv(sink);
    sync_fake_sink(sink);
    return sink;
}

GstElement* sinks_make_audio_sink(const gchar* name)
{
    GstElement* sink = gst_element_factory_make(name, nullptr);
    if (!sink) {
        sink = gst_element_factory_make("autoaudiosink", nullptr);
        eng_info("audio sink '%s' does not exist here, using 'autoaudiosink'", name);
    }
    sync_fake_sink(sink);
    return sink;
}

static GstVideoOverlay* find_overlay(GstElement* sink)
{
    if (GST_IS_VIDEO_OVERLAY(sink))
        return GST_VIDEO_OVERLAY(gst_object_ref(sink));
    if (GST_IS_BIN(sink)) {
        GstElement* e = gst_bin_get_by_interface(GST_BIN(sink), GST_TYPE_VIDEO_OVERLAY);
        return e ? GST_VIDEO_OVERLAY(e) : nullptr;
    }
    return nullptr;
}

void sinks_apply_overlay(EnginePriv* p, GstElement* sink)
{
    if (is_factory(sink, "xvimagesink"))
        configure_xv(sink);
    GstVideoOverlay* ov = find_overlay(sink);
    if (!ov)
        return;
    g_mutex_lock(&p->lock);
    const guintptr window = p->window;
    const DisplayArea r = p->render_rect;
    const gboolean whole = p->fullscreen || r.width <= 0 || r.height <= 0;
    g_mutex_unlock(&p->lock);
    if (window) {
        gst_video_overlay_set_window_handle(ov, window);
        /* The application's window takes the pointer and keys itself. */
        gst_video_overlay_handle_events(ov, FALSE);
        if (whole)
            gst_video_overlay_set_render_rectangle(ov, -1, -1, -1, -1);
        else
            gst_video_overlay_set_render_rectangle(ov, r.offsetx, r.offsety, r.width, r.height);
    }
    gst_object_unref(ov);
}

void sinks_expose(EnginePriv* p)
{
    GstElement* sink = nullptr;
    g_object_get(p->playbin, "video-sink", &sink, nullptr);
    if (!sink)
        return;
    GstVideoOverlay* ov = find_overlay(sink);
    if (ov) {
        gst_video_overlay_expose(ov);
        gst_object_unref(ov);
    }
    gst_object_unref(sink);
}

static void apply_subtitle_style(EnginePriv* p, GstElement* overlay)
{
    g_mutex_lock(&p->lock);
    g_object_set(overlay, "font-desc", p->sub_font, "color", p->sub_color, "outline-color",
                 p->sub_outline_color, "shaded-background", p->sub_shaded, "halignment",
                 (gint)p->sub_halign, "valignment", (gint)p->sub_valign, "xpos", p->sub_hpos,
                 "ypos", p->sub_vpos, nullptr);
    g_mutex_unlock(&p->lock);
}

static GstPadProbeReturn style_on_first_frame(GstPad* pad, GstPadProbeInfo*, gpointer data)
{
    GstElement* overlay = gst_pad_get_parent_element(pad);
    if (overlay) {
        apply_subtitle_style(static_cast<EnginePriv*>(data), overlay);
        gst_object_unref(overlay);
    }
    return GST_PAD_PROBE_REMOVE;
}

/* subtitleoverlay gives a text overlay it has just added its own alignments,
 * so the style is handed over as the first frame reaches the overlay. */
void sinks_style_new_overlay(EnginePriv* p, GstElement* overlay)
{
    GstPad* pad = gst_element_get_static_pad(overlay, "video_sink");
    if (!pad)
        return;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, style_on_first_frame, p, nullptr);
    gst_object_unref(pad);
}

/* The font also goes to playbin for the overlays it makes later; playbin's
 * locks are taken without the engine's, as on the streaming threads. */
void sinks_apply_subtitle_style_all(EnginePriv* p)
{
    g_mutex_lock(&p->lock);
    gchar* font = g_strdup(p->sub_font);
    g_mutex_unlock(&p->lock);
    g_object_set(p->playbin, "subtitle-font-desc", font, nullptr);
    g_free(font);
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(p->playbin));
    GValue item = G_VALUE_INIT;
    gboolean done = FALSE;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK: {
            GstElement* e = GST_ELEMENT(g_value_get_object(&item));
            if (is_factory(e, "textoverlay"))
                apply_subtitle_style(p, e);
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(it);
            break;
        default:
            done = TRUE;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

/* ------------------------------------------------- GL prepared ahead */

/* A GL sink's first context costs tens of milliseconds on a software
 * renderer. The engine makes a display and a context on a thread of its own
 * as soon as the GL sink is chosen, while the caller is still getting ready,
 * and hands them to the sink when it asks: the sink's own context then
 * shares with the prepared one and comes up faster. */
struct GlShare {
    GThread* thread;
    GMutex lock;
    gboolean joined;
    GstGLDisplay* display;
    GstGLContext* context;
};

/* Where GL failed, the display stays open for good: closing it has Xlib
 * report the failed GLX request, and its default handler ends the process.
 * Once GL has failed no GL sink is made again, so there is at most one. */
static GstGLDisplay* failed_gl_display;

static gpointer gl_share_main(gpointer data)
{
    GlShare* s = static_cast<GlShare*>(data);
    GstGLDisplay* display = gst_gl_display_new();
    GstGLContext* context = display ? gst_gl_context_new(display) : nullptr;
    GError* err = nullptr;
    if (context && !gst_gl_context_create(context, nullptr, &err)) {
        eng_info("no GL context prepared: %s", err ? err->message : "unknown reason");
        g_clear_error(&err);
        gst_clear_object(&context);
        if (g_atomic_pointer_compare_and_exchange(&failed_gl_display, nullptr, display))
            display = nullptr;
        sinks_gl_failed();
    }
    s->display = display;
    s->context = context; /* read after g_thread_join */
    return nullptr;
}

/* Waits for the preparation once; NULL when there is none. */
static GlShare* gl_share_ready(EnginePriv* p)
{
    GlShare* s = p->gl;
    if (!s)
        return nullptr;
    g_mutex_lock(&s->lock);
    if (!s->joined) {
        g_thread_join(s->thread);
        s->joined = TRUE;
    }
    g_mutex_unlock(&s->lock);
    return s;
}

void sinks_gl_prepare(EnginePriv* p)
{
    if (p->gl || !sinks_check_feature(1))
        return;
    GlShare* s = g_new0(GlShare, 1);
    g_mutex_init(&s->lock);
    s->thread = g_thread_try_new("mc-gl-prepare", gl_share_main, s, nullptr);
    if (!s->thread) {
        g_mutex_clear(&s->lock);
        g_free(s);
        return;
    }
    p->gl = s;
}

gboolean sinks_gl_answer_context(EnginePriv* p, GstMessage* msg)
{
    const gchar* type = nullptr;
    if (!p->gl || !gst_message_parse_context_type(msg, &type))
        return FALSE;
    const gboolean display = g_str_equal(type, GST_GL_DISPLAY_CONTEXT_TYPE);
    if (!display && !g_str_equal(type, "gst.gl.app_context"))
        return FALSE;
    GlShare* s = gl_share_ready(p);
    if (!s->context)
        return FALSE; /* the sink makes its own, or fails and is replaced */
    GstContext* context = gst_context_new(type, TRUE);
    if (display)
        gst_context_set_gl_display(context, s->display);
    else
        gst_structure_set(gst_context_writable_structure(context), "context", GST_TYPE_GL_CONTEXT,
                          s->context, nullptr);
    gst_element_set_context(GST_ELEMENT(GST_MESSAGE_SRC(msg)), context);
    gst_context_unref(context);
    return TRUE;
}

/* The GL sink is in place but GL does not work here. */
gboolean sinks_gl_unusable(EnginePriv* p)
{
    if (!p->video_sink || !is_factory(p->video_sink, "glimagesink"))
        return FALSE;
    GlShare* s = gl_share_ready(p);
    return (s && !s->context) || !sinks_check_feature(1);
}

void sinks_gl_release(EnginePriv* p)
{
    GlShare* s = gl_share_ready(p);
    if (!s)
        return;
    gst_clear_object(&s->context);
    gst_clear_object(&s->display);
    g_mutex_clear(&s->lock);
    g_free(s);
    p->gl = nullptr;
}
