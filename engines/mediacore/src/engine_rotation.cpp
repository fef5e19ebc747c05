/* Turning the picture: by the sink itself where it can (the GL sink), else
 * by a flip filter in one bin with the sink. */
#include "engine_private.h"

#include <gst/video/video.h>

/* A sink that turns the picture itself (the GL sink) does it at no cost and
 * at once, even while playing. */
gboolean rotation_by_sink(EnginePriv* p)
{
    return p->video_sink &&
           g_object_class_find_property(G_OBJECT_GET_CLASS(p->video_sink), "rotate-method");
}

static GstVideoOrientationMethod rotation_method(gint degree)
{
    switch (degree) {
    case 90: return GST_VIDEO_ORIENTATION_90R;
    case 180: return GST_VIDEO_ORIENTATION_180;
    case 270: return GST_VIDEO_ORIENTATION_90L;
    default: return GST_VIDEO_ORIENTATION_IDENTITY;
    }
}

/* A sink that cannot turn the picture gets a flip filter in one bin with it.
 * The filter is in the frames' path only while the picture is turned: even
 * passing frames through untouched it costs memory and time. */
struct FlipPath {
    GstPad* input; /* the bin's ghost pad */
    GstElement* flip;
    GstPad* sink_pad; /* the sink's own input */
    gboolean on;      /* wanted: the filter in the path */
};

static FlipPath* flip_path_copy(const FlipPath* f, gboolean on)
{
    FlipPath* c = g_new(FlipPath, 1);
    c->input = GST_PAD(gst_object_ref(f->input));
    c->flip = GST_ELEMENT(gst_object_ref(f->flip));
    c->sink_pad = GST_PAD(gst_object_ref(f->sink_pad));
    c->on = on;
    return c;
}

static void flip_path_free(gpointer data)
{
    FlipPath* f = static_cast<FlipPath*>(data);
    gst_object_unref(f->input);
    gst_object_unref(f->flip);
    gst_object_unref(f->sink_pad);
    g_free(f);
}

/* Relinking makes the sticky events (caps, segment) go to the new peer
 * before the next frame, so the sink renegotiates the turned size. */
static void set_flip_path(FlipPath* f)
{
    GstPad* flip_in = gst_element_get_static_pad(f->flip, "sink");
    GstPad* flip_out = gst_element_get_static_pad(f->flip, "src");
    if (flip_in && flip_out && gst_pad_is_linked(flip_out) != f->on) {
        gboolean ok = gst_ghost_pad_set_target(GST_GHOST_PAD(f->input), nullptr);
        if (f->on)
            ok = ok && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(flip_out, f->sink_pad)) &&
                 gst_ghost_pad_set_target(GST_GHOST_PAD(f->input), flip_in);
        else
            ok = ok && gst_pad_unlink(flip_out, f->sink_pad) &&
                 gst_ghost_pad_set_target(GST_GHOST_PAD(f->input), f->sink_pad);
        if (!ok)
            eng_warn("cannot %s the flip filter", f->on ? "put in" : "take out");
    }
    if (flip_in)
        gst_object_unref(flip_in);
    if (flip_out)
        gst_object_unref(flip_out);
}

static GstPadProbeReturn on_input_idle(GstPad*, GstPadProbeInfo*, gpointer data)
{
    set_flip_path(static_cast<FlipPath*>(data));
    return GST_PAD_PROBE_REMOVE;
}

/* The GL sink's rotate methods are numbered as the orientation methods. The
 * flip filter changes path while no frame passes the bin's input: at once
 * when nothing flows, else between two frames. */
void rotation_apply(EnginePriv* p)
{
    const GstVideoOrientationMethod m = rotation_method(p->rotation);
    if (rotation_by_sink(p))
        g_object_set(p->video_sink, "rotate-method", (gint)m, nullptr);
    if (!p->flip_path)
        return;
    g_object_set(p->flip_path->flip, "video-direction", m, nullptr);
    FlipPath* f = flip_path_copy(p->flip_path, p->rotation != 0);
    GstPad* peer = gst_pad_get_peer(f->input);
    if (peer) {
        gst_pad_add_probe(peer, GST_PAD_PROBE_TYPE_IDLE, on_input_idle, f, flip_path_free);
        gst_object_unref(peer);
    } else {
        set_flip_path(f);
        flip_path_free(f);
    }
}

void rotation_release(EnginePriv* p)
{
    if (p->flip_path)
        flip_path_free(p->flip_path);
    p->flip_path = nullptr;
}

/* The sink with its flip filter, the filter not yet in the path (playbin's
 * own video filter would always be, with a conversion stage and its
 * buffers). Returns a new reference. */
GstElement* rotation_wrap_sink(EnginePriv* p, GstElement* sink)
{
    GstElement* bin = GST_ELEMENT(gst_object_ref_sink(gst_bin_new("korin-video-sink")));
    GstElement* flip = eng_make(bin, "videoflip");
    GstPad* sink_pad = gst_element_get_static_pad(sink, "sink");
    const gboolean sink_in = flip && sink_pad && gst_bin_add(GST_BIN(bin), sink);
    GstPad* input = sink_in ? gst_ghost_pad_new("sink", sink_pad) : nullptr;
    if (!input || !gst_element_add_pad(bin, input)) {
        eng_warn("cannot put a flip filter before the video sink: no rotation");
        if (sink_in)
            gst_bin_remove(GST_BIN(bin), sink);
        if (sink_pad)
            gst_object_unref(sink_pad);
        gst_object_unref(bin);
        return GST_ELEMENT(gst_object_ref(sink));
    }
    FlipPath path = {input, flip, sink_pad, FALSE};
    p->flip_path = flip_path_copy(&path, FALSE);
    gst_object_unref(sink_pad);
    return bin;
}
