/* Stand-ins for a board's hardware H.264 encoders, built for the tests only
 * and found through GST_PLUGIN_PATH.  "korinhwh264enc" is x264enc in a bin of
 * the hardware class with a bit rate in kbit/s and no key-frame interval;
 * "korinbrokenh264enc", ranked above it, never gives a frame, failing as
 * KORIN_FAKE_HWENC_FAIL says: "state" (it cannot open its device), "buffer"
 * (an error on its first frame) or "stall" (it swallows every frame).  Each
 * appends a line to the file KORIN_FAKE_HWENC_LOG names when it starts. */
#define PACKAGE "korin-tests"
#include <gst/gst.h>
#include <stdio.h>

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-h264"));

static void note_start(const char *line)
{
    const char *path = g_getenv("KORIN_FAKE_HWENC_LOG");
    FILE *f = path ? fopen(path, "a") : NULL;
    if (f) {
        fprintf(f, "%s\n", line);
        fclose(f);
    }
}

static void set_hardware_class(GstElementClass *ec, const char *name)
{
    gst_element_class_add_static_pad_template(ec, &sink_template);
    gst_element_class_add_static_pad_template(ec, &src_template);
    gst_element_class_set_static_metadata(ec, name, "Codec/Encoder/Video/Hardware", "A board's encoder, faked",
                                          "korin tests");
}

typedef struct {
    GstBin parent;
    GstElement *x264;
} KorinHwEnc;
typedef struct {
    GstBinClass parent_class;
} KorinHwEncClass;
G_DEFINE_TYPE(KorinHwEnc, korin_hw_enc, GST_TYPE_BIN)

static void hw_set_property(GObject *o, guint id, const GValue *v, GParamSpec *ps)
{
    (void)ps;
    if (id == 1)
        g_object_set_property(G_OBJECT(((KorinHwEnc *)o)->x264), "bitrate", v);
}

static GstStateChangeReturn hw_change_state(GstElement *el, GstStateChange t)
{
    if (t == GST_STATE_CHANGE_READY_TO_PAUSED) {
        guint kbps = 0;
        g_object_get(((KorinHwEnc *)el)->x264, "bitrate", &kbps, NULL);
        gchar *line = g_strdup_printf("hardware %u kbit/s", kbps);
        note_start(line);
        g_free(line);
    }
    return GST_ELEMENT_CLASS(korin_hw_enc_parent_class)->change_state(el, t);
}

static void ghost(GstElement *bin, GstElement *inner, const char *name)
{
    GstPad *target = gst_element_get_static_pad(inner, name);
    gst_element_add_pad(bin, gst_ghost_pad_new(name, target));
    gst_object_unref(target);
}

static void korin_hw_enc_init(KorinHwEnc *self)
{
    self->x264 = gst_element_factory_make("x264enc", NULL);
    g_assert(self->x264);
    gst_util_set_object_arg(G_OBJECT(self->x264), "tune", "zerolatency");
    gst_util_set_object_arg(G_OBJECT(self->x264), "speed-preset", "ultrafast");
    gst_bin_add(GST_BIN(self), self->x264);
    ghost(GST_ELEMENT(self), self->x264, "sink");
    ghost(GST_ELEMENT(self), self->x264, "src");
}

static void korin_hw_enc_class_init(KorinHwEncClass *k)
{
    G_OBJECT_CLASS(k)->set_property = hw_set_property;
    g_object_class_install_property(G_OBJECT_CLASS(k), 1,
                                    g_param_spec_uint("bitrate", "Bit rate", "Bit rate in kbit/s", 1, 2048000, 2048,
                                                      G_PARAM_WRITABLE));
    GST_ELEMENT_CLASS(k)->change_state = hw_change_state;
    set_hardware_class(GST_ELEMENT_CLASS(k), "Fake hardware H.264 encoder");
}

typedef struct {
    GstElement parent;
} KorinBrokenEnc;
typedef struct {
    GstElementClass parent_class;
} KorinBrokenEncClass;
G_DEFINE_TYPE(KorinBrokenEnc, korin_broken_enc, GST_TYPE_ELEMENT)

static gboolean failing_as(const char *how)
{
    return g_strcmp0(g_getenv("KORIN_FAKE_HWENC_FAIL"), how) == 0;
}

static GstFlowReturn broken_chain(GstPad *pad, GstObject *parent, GstBuffer *buf)
{
    (void)pad;
    gst_buffer_unref(buf);
    if (failing_as("stall"))
        return GST_FLOW_OK;
    GST_ELEMENT_ERROR(parent, STREAM, ENCODE, ("the encoder has stopped"), (NULL));
    return GST_FLOW_ERROR;
}

/* Nothing goes downstream: no output caps before a first frame. */
static gboolean broken_event(GstPad *pad, GstObject *parent, GstEvent *ev)
{
    (void)pad;
    (void)parent;
    gst_event_unref(ev);
    return TRUE;
}

static GstStateChangeReturn broken_change_state(GstElement *el, GstStateChange t)
{
    if (t == GST_STATE_CHANGE_NULL_TO_READY) {
        note_start("broken");
        if (failing_as("state")) {
            GST_ELEMENT_ERROR(el, RESOURCE, OPEN_READ_WRITE, ("no encoder device"), (NULL));
            return GST_STATE_CHANGE_FAILURE;
        }
    }
    return GST_ELEMENT_CLASS(korin_broken_enc_parent_class)->change_state(el, t);
}

static void korin_broken_enc_init(KorinBrokenEnc *self)
{
    GstPad *sink = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_chain_function(sink, broken_chain);
    gst_pad_set_event_function(sink, broken_event);
    gst_element_add_pad(GST_ELEMENT(self), sink);
    gst_element_add_pad(GST_ELEMENT(self), gst_pad_new_from_static_template(&src_template, "src"));
}

static void korin_broken_enc_class_init(KorinBrokenEncClass *k)
{
    GST_ELEMENT_CLASS(k)->change_state = broken_change_state;
    set_hardware_class(GST_ELEMENT_CLASS(k), "Fake failing hardware H.264 encoder");
}

static gboolean plugin_init(GstPlugin *p)
{
    return gst_element_register(p, "korinhwh264enc", GST_RANK_PRIMARY + 1, korin_hw_enc_get_type()) &&
           gst_element_register(p, "korinbrokenh264enc", GST_RANK_PRIMARY + 2, korin_broken_enc_get_type());
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, korinfakehw, "Fake hardware encoders for the tests",
                  plugin_init, "1.0", "LGPL", "korin", "korin")
