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

static gpointer loop_thread_main(gpointer data)
{
    GMainLoop *loop = static_cast<GMainLoop *>(data);
    GMainContext *ctx = g_main_loop_get_context(loop);
    g_main_context_push_thread_default(ctx);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(ctx);
    return nullptr;
}

GThread *eng_loop_start(GMainLoop *loop, const char *name)
{
    GError *err = nullptr;
    GThread *t = g_thread_try_new(name, loop_thread_main, loop, &err);
    if (!t) {
        eng_warn("cannot start the %s thread: %s", name, err ? err->message : "?");
        g_clear_error(&err);
    }
    return t;
}

static gboolean quit_loop(gpointer data)
{
    g_main_loop_quit(static_cast<GMainLoop *>(data));
    return G_SOURCE_REMOVE;
}

void eng_loop_quit(GMainLoop *loop)
{
    GSource *quit = g_idle_source_new();
    g_source_set_callback(quit, quit_loop, loop, nullptr);
    g_source_attach(quit, g_main_loop_get_context(loop));
    g_source_unref(quit);
}
