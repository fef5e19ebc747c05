/* The end of playback when subtitle lines go to the caller's text sink.
 * Those lines come timed through their own sink, and the pipeline ends only
 * when every sink has: a subtitle file running past the video would hold
 * playback at its last frame. So the end of the video and audio is watched
 * where they enter playbin's sink stage, and posted as MEDIA_END. */
#include "engine_private.h"

static GQuark ended_quark(void)
{
    return g_quark_from_static_string("korin-ended");
}

/* A load or a seek: no end seen, none told. */
void end_watch_reset(EnginePriv* p)
{
    g_atomic_int_set(&p->at_eos, 0);
    g_atomic_int_set(&p->eos_told, 0);
}

static GstPadProbeReturn on_media_sink_event(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    EnginePriv* p = static_cast<EnginePriv*>(data);
    const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
    if (type == GST_EVENT_FLUSH_STOP || type == GST_EVENT_STREAM_START)
        g_object_set_qdata(G_OBJECT(pad), ended_quark(), nullptr);
    if (type != GST_EVENT_EOS)
        return GST_PAD_PROBE_OK;
    g_object_set_qdata(G_OBJECT(pad), ended_quark(), GINT_TO_POINTER(1));
    g_mutex_lock(&p->lock);
    gboolean all = p->media_pads->len > 0;
    for (guint i = 0; all && i < p->media_pads->len; i++)
        all = g_object_get_qdata(G_OBJECT(g_ptr_array_index(p->media_pads, i)), ended_quark()) != nullptr;
    g_mutex_unlock(&p->lock);
    if (all)
        gst_element_post_message(p->playbin, gst_message_new_application(
            GST_OBJECT(p->playbin), gst_structure_new_empty(MEDIA_END)));
    return GST_PAD_PROBE_OK;
}

static GstElement* find_playsink(EnginePriv* p)
{
    GstElement* found = nullptr;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(p->playbin));
    GValue v = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &v) == GST_ITERATOR_OK) {
        GstElement* e = GST_ELEMENT(g_value_get_object(&v));
        GstElementFactory* f = gst_element_get_factory(e);
        if (f && g_str_equal(GST_OBJECT_NAME(f), "playsink"))
            found = GST_ELEMENT(gst_object_ref(e));
        g_value_reset(&v);
    }
    g_value_unset(&v);
    gst_iterator_free(it);
    return found;
}

/* After a load: the video and audio inputs of playbin's sink stage (its
 * stream synchroniser holds their end back until the text's), when lines go
 * to the caller's text sink. */
void end_watch_sinks(EnginePriv* p)
{
    GPtrArray* pads = g_ptr_array_new_with_free_func(gst_object_unref);
    GstElement* playsink = p->text_appsink ? find_playsink(p) : nullptr;
    GstIterator* it = playsink ? gst_element_iterate_sink_pads(playsink) : nullptr;
    GValue v = G_VALUE_INIT;
    while (it && gst_iterator_next(it, &v) == GST_ITERATOR_OK) {
        GstPad* pad = GST_PAD(g_value_get_object(&v));
        if (!g_str_has_prefix(GST_OBJECT_NAME(pad), "text")) {
            if (!g_object_get_data(G_OBJECT(pad), "korin-watched")) {
                g_object_set_data(G_OBJECT(pad), "korin-watched", p);
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, on_media_sink_event, p, nullptr);
            }
            g_ptr_array_add(pads, gst_object_ref(pad));
        }
        g_value_reset(&v);
    }
    g_value_unset(&v);
    if (it)
        gst_iterator_free(it);
    if (playsink)
        gst_object_unref(playsink);
    g_mutex_lock(&p->lock);
    GPtrArray* old = p->media_pads;
    p->media_pads = pads;
    g_mutex_unlock(&p->lock);
    g_ptr_array_unref(old);
}
