/* Start/stop soak of the recorder engine, or of the same recording built
 * in bare GStreamer each cycle: 1 s recordings of a live 1280x720@30 test
 * pattern, H.264 in MP4, no audio, no preview window.
 * Usage: soak_record engine|bare DIR [CYCLES]; prints a soak_report line. */
#include "recorderengine.h"
#include "soak.h"

#include <unistd.h>

#define SOAK_W 1280
#define SOAK_H 720
#define SOAK_FPS 30

static int engine_cycle(RecorderEngine *e, const char *path)
{
    if (e->set_output_file_path(e, path) != 0)
        return -1;
    /* The first start may come before the capture has negotiated. */
    int tries = 0;
    while (e->start(e) != 0)
        if (++tries > 50)
            return -1;
        else
            g_usleep(100 * 1000);
    g_usleep(G_USEC_PER_SEC);
    return e->stop(e) == 0 ? 0 : -1;
}

static int engine_run(const char *path, SoakRss *s)
{
    RecorderEngine *e = recorder_engine_create();
    if (!e || e->init(e) != 0)
        return -1;
    RERawVideoSettings out = {0, SOAK_W, SOAK_H, SOAK_FPS};
    REVideoEncoderSettings venc = {1, 0, 0, 0, 0, {0}};
    int failed = e->set_video_source(e, 1) || e->set_audio_source(e, 1) ||
                 e->set_camera_output_settings(e, &out) || e->set_video_encoder_settings(e, &venc) ||
                 e->set_container_format(e, 0) || e->prepare(e);
    for (int i = 1; !failed && i <= s->cycles; ++i) {
        failed = engine_cycle(e, path) != 0;
        unlink(path);
        soak_cycle_done(s, i);
    }
    e->close(e);
    e->delete_it(e);
    return failed ? -1 : 0;
}

/* The engine's recording as one pipeline: same size, encoder settings
 * (zerolatency, ultrafast, 0.1 bit per pixel, a key frame a second) and muxer. */
static int bare_cycle(const char *path)
{
    gchar *desc = g_strdup_printf(
        "videotestsrc is-live=true pattern=smpte ! video/x-raw,format=I420,width=%d,height=%d,framerate=%d/1 "
        "! queue ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=%d key-int-max=%d ! h264parse "
        "! mp4mux ! filesink location=\"%s\"",
        SOAK_W, SOAK_H, SOAK_FPS, SOAK_W * SOAK_H * SOAK_FPS / 10000, SOAK_FPS, path);
    GError *err = NULL;
    GstElement *p = gst_parse_launch(desc, &err);
    g_free(desc);
    if (!p) {
        fprintf(stderr, "bare pipeline: %s\n", err ? err->message : "?");
        g_clear_error(&err);
        return -1;
    }
    int ok = gst_element_set_state(p, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (ok) {
        g_usleep(G_USEC_PER_SEC);
        gst_element_send_event(p, gst_event_new_eos());
        ok = soak_wait_eos(p);
    }
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return ok ? 0 : -1;
}

static int bare_run(const char *path, SoakRss *s)
{
    gst_init(NULL, NULL);
    int failed = 0;
    for (int i = 1; !failed && i <= s->cycles; ++i) {
        failed = bare_cycle(path) != 0;
        unlink(path);
        soak_cycle_done(s, i);
    }
    return failed ? -1 : 0;
}

static int run(int engine, const char *dir, SoakRss *s)
{
    gchar *path = g_strdup_printf("%s/soak-%s-%d.mp4", dir, engine ? "engine" : "bare", (int)getpid());
    int res = engine ? engine_run(path, s) : bare_run(path, s);
    g_free(path);
    return res;
}

int main(int argc, char **argv)
{
    return soak_main(argc, argv, "record", "DIR", 500, run);
}
