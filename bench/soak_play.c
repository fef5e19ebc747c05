/* File soak of the play engine, or of one reused bare playbin: each cycle
 * loads the clip, plays it to its end and stops, with synchronised fake
 * sinks for video and audio.
 * Usage: soak_play engine|bare CLIP [CYCLES]; prints a soak_report line. */
#include "playengine.h"
#include "soak_rss.h"

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
    int ok = gst_element_set_state(pb, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (ok) {
        GstBus *bus = gst_element_get_bus(pb);
        GstMessage *m = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
        ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
        if (m)
            gst_message_unref(m);
        gst_object_unref(bus);
    }
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

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s engine|bare CLIP [CYCLES]\n", argv[0]);
        return 2;
    }
    int engine = strcmp(argv[1], "engine") == 0;
    SoakRss s = {soak_cycles_arg(argc, argv, 3, 500), -1, -1, -1};
    if ((engine ? engine_run(argv[2], &s) : bare_run(argv[2], &s)) != 0) {
        fprintf(stderr, "play soak (%s) failed\n", argv[1]);
        return 1;
    }
    soak_report(&s, engine ? "play-engine" : "play-bare");
    return 0;
}
