/* File soak of the play engine, or of one reused bare playbin: each cycle
 * loads the clip, plays it to its end and stops, with synchronised fake
 * sinks for video and audio.
 * Usage: soak_play engine|bare CLIP [CYCLES]; prints a soak_report line. */
#include "playengine.h"
#include "soak.h"

static GMutex eos_lock;
static GCond eos_cond;
static int eos_seen;

static void on_event(void *context, EventType event, void *data)
{
    (void)context;
    (void)data;
    if (event != EVENT_ID_EOS && event != EVENT_ID_ERROR)
        return;
    g_mutex_lock(&eos_lock);
    eos_seen = event == EVENT_ID_EOS ? 1 : -1;
    g_cond_signal(&eos_cond);
    g_mutex_unlock(&eos_lock);
}

static int engine_cycle(PlayEngine *e, const char *clip)
{
    g_mutex_lock(&eos_lock);
    eos_seen = 0;
    g_mutex_unlock(&eos_lock);
    if (e->set_file(e, clip) != PLAYENGINE_SUCCESS || e->play(e) != PLAYENGINE_SUCCESS)
        return -1;
    gint64 deadline = g_get_monotonic_time() + 20 * G_TIME_SPAN_SECOND;
    g_mutex_lock(&eos_lock);
    while (!eos_seen && g_cond_wait_until(&eos_cond, &eos_lock, deadline))
        ;
    int seen = eos_seen;
    g_mutex_unlock(&eos_lock);
    return e->stop(e) == PLAYENGINE_SUCCESS && seen == 1 ? 0 : -1;
}

static int engine_run(const char *clip, SoakRss *s)
{
    PlayEngine *e = play_engine_create();
    if (!e)
        return -1;
    int failed = e->set_video_sink(e, "fakesink") != PLAYENGINE_SUCCESS ||
                 e->set_audio_sink(e, "fakesink") != PLAYENGINE_SUCCESS ||
                 e->reg_event_handler(e, NULL, on_event) != PLAYENGINE_SUCCESS;
    for (int i = 1; !failed && i <= s->cycles; ++i) {
        failed = engine_cycle(e, clip) != 0;
        soak_cycle_done(s, i);
    }
    play_engine_destroy(e);
    return failed ? -1 : 0;
}

static int bare_cycle(GstElement *pb, const char *uri)
{
    g_object_set(pb, "uri", uri, NULL);
    int ok = gst_element_set_state(pb, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE && soak_wait_eos(pb);
    return gst_element_set_state(pb, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE && ok ? 0 : -1;
}

static int bare_run(const char *clip, SoakRss *s)
{
    gst_init(NULL, NULL);
    GstElement *pb = gst_element_factory_make("playbin", NULL);
    GstElement *vs = gst_element_factory_make("fakesink", NULL);
    GstElement *as = gst_element_factory_make("fakesink", NULL);
    gchar *uri = gst_filename_to_uri(clip, NULL);
    if (!pb || !vs || !as || !uri)
        return -1;
    g_object_set(vs, "sync", TRUE, NULL);
    g_object_set(as, "sync", TRUE, NULL);
    g_object_set(pb, "video-sink", vs, "audio-sink", as, NULL);
    int failed = 0;
    for (int i = 1; !failed && i <= s->cycles; ++i) {
        failed = bare_cycle(pb, uri) != 0;
        soak_cycle_done(s, i);
    }
    g_free(uri);
    gst_object_unref(pb);
    return failed ? -1 : 0;
}

static int run(int engine, const char *clip, SoakRss *s)
{
    return engine ? engine_run(clip, s) : bare_run(clip, s);
}

int main(int argc, char **argv)
{
    return soak_main(argc, argv, "play", "CLIP", 500, run);
}
