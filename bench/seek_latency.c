/* Accurate-seek latency of the play engine and of a bare playbin on the
 * same file: N seeks to spread-out positions while paused, each timed until
 * the pipeline has prerolled at the new position. Both have synchronised
 * fake sinks for video and audio, and every seek must land within a frame
 * of its target, or the run fails.
 * Usage: seek_latency FILE [SEEKS] */
#include "playengine.h"

#include <stdio.h>
#include <stdlib.h>

static guint64 target_of(int i, int n, gint64 duration)
{
    /* A fixed, scattered order so both runs seek to the same places. */
    int k = (i * 7919) % n;
    return (guint64)(duration * 0.9 * k / n);
}

/* Seeks that ended further than a frame (30 fps) from their target. */
static int missed;

static void check_landed(const char* who, guint64 target, gboolean ok, gint64 position)
{
    gint64 miss = position - (gint64)target;
    if (!ok || miss > GST_SECOND / 30 || miss < -GST_SECOND / 30) {
        fprintf(stderr, "%s: seek to %.3f s landed at %.3f s\n", who, target / 1e9, position / 1e9);
        missed++;
    }
}

static double engine_run(const char* file, int n, gint64* duration)
{
    PlayEngine* e = play_engine_create();
    if (!e)
        return -1;
    e->set_video_sink(e, "fakesink");
    e->set_audio_sink(e, "fakesink");
    e->set_file(e, file);
    if (e->pause(e) != PLAYENGINE_SUCCESS) {
        play_engine_destroy(e);
        return -1;
    }
    e->get_duration(e, duration);
    gint64 spent = 0;
    for (int i = 0; i < n; ++i) {
        guint64 target = target_of(i, n, *duration);
        gint64 t0 = g_get_monotonic_time(), pos = -1;
        PlayEngineResult res = e->seek(e, target, TRUE);
        spent += g_get_monotonic_time() - t0;
        gboolean ok = res == PLAYENGINE_SUCCESS && e->get_position(e, &pos) == PLAYENGINE_SUCCESS;
        check_landed("engine", target, ok, pos);
    }
    e->stop(e);
    play_engine_destroy(e);
    return spent / 1000.0 / n;
}

static double playbin_run(const char* file, int n, gint64 duration)
{
    GstElement* pb = gst_element_factory_make("playbin", NULL);
    GstElement* vs = gst_element_factory_make("fakesink", NULL);
    GstElement* as = gst_element_factory_make("fakesink", NULL);
    g_object_set(vs, "sync", TRUE, NULL);
    g_object_set(as, "sync", TRUE, NULL);
    gchar* uri = gst_filename_to_uri(file, NULL);
    g_object_set(pb, "uri", uri, "video-sink", vs, "audio-sink", as, NULL);
    g_free(uri);
    gst_element_set_state(pb, GST_STATE_PAUSED);
    if (gst_element_get_state(pb, NULL, NULL, 10 * GST_SECOND) != GST_STATE_CHANGE_SUCCESS) {
        gst_element_set_state(pb, GST_STATE_NULL);
        gst_object_unref(pb);
        return -1;
    }
    gint64 spent = 0;
    for (int i = 0; i < n; ++i) {
        guint64 target = target_of(i, n, duration);
        gint64 t0 = g_get_monotonic_time(), pos = -1;
        gboolean ok = gst_element_seek_simple(pb, GST_FORMAT_TIME,
                                              GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE, (gint64)target) &&
                      gst_element_get_state(pb, NULL, NULL, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS;
        spent += g_get_monotonic_time() - t0;
        ok = ok && gst_element_query_position(pb, GST_FORMAT_TIME, &pos);
        check_landed("bare playbin", target, ok, pos);
    }
    gst_element_set_state(pb, GST_STATE_NULL);
    gst_object_unref(pb);
    return spent / 1000.0 / n;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [SEEKS]\n", argv[0]);
        return 2;
    }
    int n = argc > 2 ? atoi(argv[2]) : 40;
    if (n < 1)
        n = 40;
    gst_init(NULL, NULL);
    gint64 duration = 0;
    /* Warm both once (plugin loading, file cache), then measure. */
    engine_run(argv[1], 2, &duration);
    playbin_run(argv[1], 2, duration);
    missed = 0;
    double ours = engine_run(argv[1], n, &duration);
    double bare = playbin_run(argv[1], n, duration);
    if (ours < 0 || bare < 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    printf("accurate seek, mean of %d: engine %.2f ms, bare playbin %.2f ms, ratio %.3f\n", n, ours,
           bare, ours / bare);
    if (missed) {
        fprintf(stderr, "%d seeks did not land where asked\n", missed);
        return 1;
    }
    return 0;
}
