/* Compiled into each engine library, so its log lines carry that library's
 * domain. */
#include "engine_common.h"

GstElement *eng_make(GstElement *bin, const char *factory, const char *name)
{
    GstElement *el = gst_element_factory_make(factory, name);
    if (!el) {
        eng_warn("GStreamer element %s is missing", factory);
        return nullptr;
    }
    if (!gst_bin_add(GST_BIN(bin), el)) {
        gst_object_unref(el);
        return nullptr;
    }
    return el;
}

GError *eng_bus_error(GstMessage *msg, const char *what)
{
    GError *err = nullptr;
    gchar *dbg = nullptr;
    gst_message_parse_error(msg, &err, &dbg);
    eng_warn("%s error from %s: %s (%s)", what, GST_OBJECT_NAME(GST_MESSAGE_SRC(msg)),
             err ? err->message : "?", dbg ? dbg : "");
    g_free(dbg);
    return err;
}

void eng_bus_warning(GstMessage *msg, const char *what)
{
    GError *err = nullptr;
    gst_message_parse_warning(msg, &err, nullptr);
    eng_info("%s warning from %s: %s", what, GST_OBJECT_NAME(GST_MESSAGE_SRC(msg)),
             err ? err->message : "?");
    g_clear_error(&err);
}
