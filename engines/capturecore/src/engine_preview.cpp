/* The capture pipeline: source, effect, time stamp, then a tee feeding the
 * preview window, the recording tap and the snapshot tap. */
#include "engine_private.h"
#include "korin_colorkey.h"

#include <gst/app/gstappsink.h>
#include <gst/video/videooverlay.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

namespace cc {

struct Capture {
    Engine *e = nullptr;
    GstElement *pipeline = nullptr;
    GstElement *overlay = nullptr; /* clockoverlay, silent unless the time stamp is on */
    GstElement *valve = nullptr;   /* closes the preview branch for disable_viewfinder */
    GstElement *psink = nullptr;
    GstElement *pfilter = nullptr; /* preview size for the plain X11 sink */
    GstElement *rectap = nullptr;
    GstElement *snaptap = nullptr;
    GSource *bus_src = nullptr;
    GSource *geom_timer = nullptr;
    bool is_camera = false;
    bool running = false;
    bool xv = false;
    int width = 0, height = 0, fps = 0;

    /* Preview geometry, read by the timer on the bus thread. */
    GMutex glock;
    REVideoRect region = {0, 0, 0, 0};
    bool hidden = false;
    xcb_connection_t *xc = nullptr;
    uint32_t parent = 0, child = 0;
    int cur_x = -1, cur_y = -1, cur_w = -1, cur_h = -1;
    bool mapped = false;
    bool parent_lost = false;
};

bool link_chain(std::initializer_list<GstElement *> els)
{
    GstElement *prev = nullptr;
    for (GstElement *el : els) {
        if (!el)
            return false;
        if (prev && !gst_element_link(prev, el)) {
            eng_warn("cannot link %s to %s", GST_ELEMENT_NAME(prev), GST_ELEMENT_NAME(el));
            return false;
        }
        prev = el;
    }
    return true;
}

namespace {

struct EffectDef {
    REuint32 code;
    const char *gl;  /* GL element */
    const char *cpu; /* CPU fallback, or null */
    const char *name;
};

const EffectDef kEffects[] = {
    {1, "glfiltercube", nullptr, "Cube"},          {2, "gleffects_mirror", "mirror", "Mirror"},
    {3, "gleffects_squeeze", nullptr, "Squeeze"},  {4, "gleffects_fisheye", "fisheye", "FishEye"},
    {6, "gleffects_tunnel", "tunnel", "Tunnel"},   {7, "gleffects_twirl", "twirl", "Twirl"},
};

const EffectDef *find_effect(REuint32 code)
{
    for (const auto &d : kEffects)
        if (d.code == code)
            return &d;
    return nullptr;
}

/* Appends the effect chain after *last.  GL runs the effect on the GPU where
 * there is one; the CPU variants exist for four of the six effects. */
bool add_effect(GstElement *pipeline, GstElement **last, const EffectDef *fx, bool use_gl)
{
    if (use_gl) {
        GstElement *up = eng_make(pipeline, "glupload");
        GstElement *cc1 = eng_make(pipeline, "glcolorconvert");
        GstElement *fx_el = eng_make(pipeline, fx->gl);
        GstElement *cc2 = eng_make(pipeline, "glcolorconvert");
        GstElement *down = eng_make(pipeline, "gldownload");
        if (!link_chain({*last, up, cc1, fx_el, cc2, down}))
            return false;
        *last = down;
        return true;
    }
    GstElement *c1 = eng_make(pipeline, "videoconvert");
    GstElement *fx_el = eng_make(pipeline, fx->cpu);
    if (!link_chain({*last, c1, fx_el}))
        return false;
    *last = fx_el;
    return true;
}

GstFlowReturn on_rec_sample(GstAppSink *sink, gpointer data)
{
    Capture *cap = static_cast<Capture *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (sample) {
        record_push_video(cap->e, sample, cap->is_camera);
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

GstFlowReturn on_snap_sample(GstAppSink *sink, gpointer data)
{
    Capture *cap = static_cast<Capture *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (sample) {
        snapshot_frame_arrived(cap->e, sample);
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

gboolean on_bus(GstBus *, GstMessage *msg, gpointer data)
{
    Capture *cap = static_cast<Capture *>(data);
    Engine *e = cap->e;
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR: {
        GError *err = eng_bus_error(msg, "capture");
        g_clear_error(&err);
        g_mutex_lock(&e->flock);
        bool was_running = cap->running && !e->cap_failed;
        e->cap_failed = true;
        g_cond_broadcast(&e->fcond);
        g_mutex_unlock(&e->flock);
        if (was_running) {
            /* A camera that vanished: finish the recording so the file plays. */
            g_mutex_lock(&e->rlock);
            bool recording = e->rec != nullptr && e->rstate != REC_STOPPING;
            guint gen = e->gen;
            g_mutex_unlock(&e->rlock);
            if (recording)
                events_post_finish(e, RE_EVENT_ERROR, gen);
            else
                events_post(e, RE_EVENT_ERROR);
        }
        break;
    }
    case GST_MESSAGE_WARNING:
        eng_bus_warning(msg, "capture");
        break;
    default:
        break;
    }
    return G_SOURCE_CONTINUE;
}

/* Keeps the child window on the preview region (the whole window when the
 * region is all zero) and maps or unmaps it as the viewfinder is shown or
 * hidden: an unmapped window also ends an Xv overlay, which a closed valve
 * alone would leave showing its last frame. */
gboolean on_geometry(gpointer data)
{
    Capture *cap = static_cast<Capture *>(data);
    g_mutex_lock(&cap->glock);
    REVideoRect r = cap->region;
    bool hidden = cap->hidden;
    g_mutex_unlock(&cap->glock);

    if (!cap->xc || cap->parent_lost)
        return G_SOURCE_CONTINUE;
    xcb_generic_error_t *err = nullptr;
    xcb_get_geometry_reply_t *g =
        xcb_get_geometry_reply(cap->xc, xcb_get_geometry(cap->xc, cap->parent), &err);
    if (!g) {
        free(err);
        cap->parent_lost = true;
        eng_warn("preview window 0x%x is gone; preview stops following it", cap->parent);
        return G_SOURCE_CONTINUE;
    }
    int pw = g->width, ph = g->height;
    free(g);
    int x = 0, y = 0, w = pw, h = ph;
    if (r.width && r.height) {
        x = MIN((int)r.left, pw - 1);
        y = MIN((int)r.top, ph - 1);
        w = MAX(1, MIN((int)r.width, pw - x));
        h = MAX(1, MIN((int)r.height, ph - y));
    }
    bool moved = x != cap->cur_x || y != cap->cur_y || w != cap->cur_w || h != cap->cur_h;
    if (moved) {
        uint32_t vals[4] = {(uint32_t)x, (uint32_t)y, (uint32_t)w, (uint32_t)h};
        xcb_configure_window(cap->xc, cap->child,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             vals);
        if (cap->pfilter && (w != cap->cur_w || h != cap->cur_h)) {
            GstCaps *pc = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, w, "height",
                                              G_TYPE_INT, h, "pixel-aspect-ratio",
                                              GST_TYPE_FRACTION, 1, 1, NULL);
            g_object_set(cap->pfilter, "caps", pc, NULL);
            gst_caps_unref(pc);
        }
        cap->cur_x = x;
        cap->cur_y = y;
        cap->cur_w = w;
        cap->cur_h = h;
    }
    bool shown = false;
    if (hidden && cap->mapped) {
        xcb_unmap_window(cap->xc, cap->child);
        cap->mapped = false;
    } else if (!hidden && !cap->mapped) {
        xcb_map_window(cap->xc, cap->child);
        cap->mapped = true;
        shown = true;
    }
    xcb_flush(cap->xc);
    /* The Xv sink scales into its window: redraw at once at the new size. */
    if (cap->xv && cap->mapped && (moved || shown))
        gst_video_overlay_expose(GST_VIDEO_OVERLAY(cap->psink));
    return G_SOURCE_CONTINUE;
}

bool xv_available()
{
    GstElement *probe = gst_element_factory_make("xvimagesink", nullptr);
    if (!probe)
        return false;
    bool ok = gst_element_set_state(probe, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return ok;
}

/* The child window's background pixel for a 0xRRGGBB colour at this depth. */
uint32_t pixel_for(uint32_t rgb, int depth)
{
    if (depth == 16)
        return ((rgb >> 19 & 0x1f) << 11) | ((rgb >> 10 & 0x3f) << 5) | (rgb >> 3 & 0x1f);
    return depth == 32 ? 0xff000000u | rgb : rgb; /* opaque on an ARGB visual */
}

/* The window the preview draws into, inside the caller's window; its
 * background is the colour key for Xv (video shows only there) and black
 * until the first frame otherwise. */
bool make_child_window(Capture *cap, guintptr window, uint32_t background_rgb)
{
    cap->xc = xcb_connect(nullptr, nullptr);
    if (!cap->xc || xcb_connection_has_error(cap->xc)) {
        eng_warn("cannot reach the X display for the preview");
        if (cap->xc)
            xcb_disconnect(cap->xc);
        cap->xc = nullptr;
        return false;
    }
    cap->parent = (uint32_t)window;
    xcb_generic_error_t *err = nullptr;
    xcb_get_geometry_reply_t *g =
        xcb_get_geometry_reply(cap->xc, xcb_get_geometry(cap->xc, cap->parent), &err);
    if (!g) {
        free(err);
        eng_warn("preview window 0x%lx is not a window", (unsigned long)window);
        return false;
    }
    int pw = g->width, ph = g->height, depth = g->depth;
    free(g);
    cap->child = xcb_generate_id(cap->xc);
    uint32_t vals[1] = {pixel_for(background_rgb, depth)};
    xcb_void_cookie_t ck = xcb_create_window_checked(
        cap->xc, XCB_COPY_FROM_PARENT, cap->child, cap->parent, 0, 0, pw, ph, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, vals);
    err = xcb_request_check(cap->xc, ck);
    if (err) {
        free(err);
        eng_warn("cannot create the preview window inside 0x%lx", (unsigned long)window);
        cap->child = 0;
        return false;
    }
    xcb_flush(cap->xc);
    return true;
}

bool add_preview_branch(Capture *cap, GstElement *tee)
{
    Engine *e = cap->e;
    GstElement *p = cap->pipeline;
    GstElement *q = eng_make(p, "queue");
    cap->valve = eng_make(p, "valve");
    if (!q || !cap->valve)
        return false;
    g_object_set(q, "leaky", 2, "max-size-buffers", 2, "max-size-bytes", 0, "max-size-time",
                 (guint64)0, NULL);
    g_object_set(cap->valve, "drop", e->s.viewfinder_off ? TRUE : FALSE, NULL);

    cap->xv = xv_available();
    const guint32 key = korin_colorkey_rgb(korin_colorkey_value(g_getenv("COLORKEY")));
    if (!make_child_window(cap, e->s.window, cap->xv ? key : 0))
        return false;
    GstElement *conv = eng_make(p, "videoconvert");
    if (cap->xv) {
        cap->psink = eng_make(p, "xvimagesink");
        if (!cap->psink || !link_chain({tee, q, cap->valve, conv, cap->psink}))
            return false;
        /* The key is painted, by the program and the child window; the sink
         * must not paint over the user interface. */
        g_object_set(cap->psink, "colorkey", (gint)key, "autopaint-colorkey", FALSE, "sync", FALSE,
                     "force-aspect-ratio", TRUE, NULL);
        eng_info("preview: XVideo overlay, colour key 0x%06x", key);
    } else {
        GstElement *scale = eng_make(p, "videoscale");
        cap->pfilter = eng_make(p, "capsfilter");
        cap->psink = eng_make(p, "ximagesink");
        if (!cap->psink || !link_chain({tee, q, cap->valve, scale, cap->pfilter, conv, cap->psink}))
            return false;
        g_object_set(cap->psink, "sync", FALSE, NULL);
        eng_info("preview: X11 image sink (no XVideo adaptor on this display)");
    }
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(cap->psink), cap->child);
    g_mutex_lock(&cap->glock);
    cap->region = e->s.region;
    cap->hidden = e->s.viewfinder_off;
    g_mutex_unlock(&cap->glock);
    /* First placement before the sink negotiates, then follow on the bus thread. */
    on_geometry(cap);
    return true;
}

GstElement *add_tap(Capture *cap, GstElement *tee, bool with_queue, GstAppSinkCallbacks *cbs)
{
    GstElement *p = cap->pipeline;
    GstElement *sink = eng_make(p, "appsink");
    if (!sink)
        return nullptr;
    g_object_set(sink, "sync", FALSE, "async", FALSE, "max-buffers", 1, "drop", TRUE,
                 "enable-last-sample", FALSE, NULL);
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), cbs, cap, nullptr);
    if (with_queue) {
        GstElement *q = eng_make(p, "queue");
        if (!q)
            return nullptr;
        g_object_set(q, "leaky", 2, "max-size-buffers", 1, "max-size-bytes", 0, "max-size-time",
                     (guint64)0, NULL);
        if (!link_chain({tee, q, sink}))
            return nullptr;
    } else if (!link_chain({tee, sink})) {
        return nullptr;
    }
    return sink;
}

void free_capture(Engine *e, Capture *cap)
{
    if (!cap)
        return;
    events_destroy_source_sync(e, cap->geom_timer);
    cap->geom_timer = nullptr;
    if (cap->pipeline) {
        gst_element_set_state(cap->pipeline, GST_STATE_NULL);
    }
    events_destroy_source_sync(e, cap->bus_src);
    cap->bus_src = nullptr;
    if (cap->pipeline)
        gst_object_unref(cap->pipeline);
    if (cap->xc) {
        if (cap->child) {
            xcb_destroy_window(cap->xc, cap->child);
            xcb_flush(cap->xc);
        }
        xcb_disconnect(cap->xc);
    }
    g_mutex_clear(&cap->glock);
    delete cap;
}

Capture *build(Engine *e, bool use_gl)
{
    Capture *cap = new Capture();
    cap->e = e;
    g_mutex_init(&cap->glock);
    cap->pipeline = gst_pipeline_new("capturecore-capture");
    GstElement *p = cap->pipeline;
    bool ok = p != nullptr;

    GstElement *src = nullptr;
    if (ok) {
        src = source_create_bin(e, &cap->width, &cap->height, &cap->fps, &cap->is_camera);
        ok = src && gst_bin_add(GST_BIN(p), src);
    }
    GstElement *last = src;
    const EffectDef *fx = find_effect(e->s.effect);
    if (ok && fx) {
        ok = add_effect(p, &last, fx, use_gl);
        if (ok)
            eng_info("video effect: %s (%s)", fx->name, use_gl ? "GL" : "CPU");
    }
    GstElement *tee = nullptr;
    if (ok) {
        GstElement *conv = fx ? eng_make(p, "videoconvert") : nullptr;
        GstElement *filter = eng_make(p, "capsfilter");
        cap->overlay = eng_make(p, "clockoverlay");
        tee = eng_make(p, "tee");
        if (filter) {
            GstCaps *fc = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420",
                                              "width", G_TYPE_INT, cap->width, "height", G_TYPE_INT,
                                              cap->height, NULL);
            g_object_set(filter, "caps", fc, NULL);
            gst_caps_unref(fc);
        }
        if (cap->overlay) {
            g_object_set(cap->overlay, "silent", e->s.time_stamp ? FALSE : TRUE, "time-format",
                         "%Y-%m-%d %H:%M:%S", "shaded-background", TRUE, "font-desc", "Sans 16",
                         NULL);
            gst_util_set_object_arg(G_OBJECT(cap->overlay), "halignment", "left");
            gst_util_set_object_arg(G_OBJECT(cap->overlay), "valignment", "top");
        }
        ok = fx ? link_chain({last, conv, filter, cap->overlay, tee})
                : link_chain({last, filter, cap->overlay, tee});
    }
    if (ok) {
        GstAppSinkCallbacks rec_cbs = {};
        rec_cbs.new_sample = on_rec_sample;
        GstAppSinkCallbacks snap_cbs = {};
        snap_cbs.new_sample = on_snap_sample;
        cap->rectap = add_tap(cap, tee, false, &rec_cbs);
        cap->snaptap = add_tap(cap, tee, true, &snap_cbs);
        ok = cap->rectap && cap->snaptap;
    }
    if (ok && e->s.window)
        ok = add_preview_branch(cap, tee);
    if (ok) {
        cap->bus_src = events_add_bus_watch(e, p, on_bus, cap, nullptr);
        ok = cap->bus_src != nullptr;
    }
    if (!ok) {
        free_capture(e, cap);
        return nullptr;
    }
    return cap;
}

/* Runs the pipeline until the first frame reaches the taps, or fails. */
bool run(Engine *e, Capture *cap)
{
    g_mutex_lock(&e->flock);
    e->frames = 0;
    e->cap_failed = false;
    g_mutex_unlock(&e->flock);

    if (gst_element_set_state(cap->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        eng_warn("the capture pipeline does not start");
        return false;
    }
    gint64 deadline = g_get_monotonic_time() + 8 * G_TIME_SPAN_SECOND;
    g_mutex_lock(&e->flock);
    while (e->frames == 0 && !e->cap_failed)
        if (!g_cond_wait_until(&e->fcond, &e->flock, deadline))
            break;
    bool ok = e->frames > 0 && !e->cap_failed;
    g_mutex_unlock(&e->flock);
    if (!ok)
        eng_warn("the video source delivers no frames");
    return ok;
}

} // namespace

bool effect_code_known(REuint32 code)
{
    return code == 0 || find_effect(code) != nullptr;
}

REresult capture_start(Engine *e)
{
    if (e->cap)
        return CC_OK;
    const EffectDef *fx = find_effect(e->s.effect);
    Capture *cap = build(e, true);
    bool ok = cap && run(e, cap);
    if (!ok && cap && fx && fx->cpu) {
        /* No GL context here (no display, no GPU): the CPU variant will do. */
        eng_info("GL effect unavailable, trying the CPU %s", fx->name);
        free_capture(e, cap);
        cap = build(e, false);
        ok = cap && run(e, cap);
    }
    if (!ok) {
        if (fx && !fx->cpu)
            eng_warn("effect %s needs GL, which is unavailable here", fx->name);
        free_capture(e, cap);
        return CC_FAIL;
    }
    g_mutex_lock(&e->flock);
    cap->running = true;
    g_mutex_unlock(&e->flock);
    if (cap->psink)
        cap->geom_timer = events_add_timer(e, 200, on_geometry, cap);
    e->cap = cap;
    return CC_OK;
}

void capture_stop(Engine *e)
{
    Capture *cap = e->cap;
    if (!cap)
        return;
    e->cap = nullptr;
    free_capture(e, cap);
    g_mutex_lock(&e->flock);
    if (e->last_sample)
        gst_sample_unref(e->last_sample);
    e->last_sample = nullptr;
    e->frames = 0;
    g_mutex_unlock(&e->flock);
}

void capture_apply_live_settings(Engine *e)
{
    Capture *cap = e->cap;
    if (!cap)
        return;
    if (cap->overlay)
        g_object_set(cap->overlay, "silent", e->s.time_stamp ? FALSE : TRUE, NULL);
    if (cap->valve)
        g_object_set(cap->valve, "drop", e->s.viewfinder_off ? TRUE : FALSE, NULL);
    g_mutex_lock(&cap->glock);
    cap->region = e->s.region;
    cap->hidden = e->s.viewfinder_off;
    g_mutex_unlock(&cap->glock);
}

GstCaps *capture_video_caps(Engine *e)
{
    if (!e->cap || !e->cap->rectap)
        return nullptr;
    GstPad *pad = gst_element_get_static_pad(e->cap->rectap, "sink");
    if (!pad)
        return nullptr;
    GstCaps *caps = gst_pad_get_current_caps(pad);
    gst_object_unref(pad);
    return caps;
}

GstClock *capture_clock(Engine *e, GstClockTime *base_time)
{
    if (!e->cap)
        return nullptr;
    *base_time = gst_element_get_base_time(e->cap->pipeline);
    return gst_pipeline_get_clock(GST_PIPELINE(e->cap->pipeline));
}

GstClockTime capture_running_time(Engine *e)
{
    if (!e->cap)
        return GST_CLOCK_TIME_NONE;
    GstClock *clock = gst_element_get_clock(e->cap->pipeline);
    if (!clock)
        return GST_CLOCK_TIME_NONE;
    GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    GstClockTime base = gst_element_get_base_time(e->cap->pipeline);
    return now >= base ? now - base : GST_CLOCK_TIME_NONE;
}

} // namespace cc
