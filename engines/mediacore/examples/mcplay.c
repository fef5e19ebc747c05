/* mcplay: plays one file or URI with the play engine until its end.
 * Usage: mcplay FILE [VIDEO-SINK [AUDIO-SINK]]  (the sink's own window shows
 * the video) */
#include "playengine.h"

#include <stdio.h>

typedef struct {
    GMutex lock;
    GCond cond;
    gboolean done;
    gboolean failed;
} Player;

static void on_event(void* context, EventType event, void* data)
{
    Player* pl = (Player*)context;
    if (event == EVENT_ID_STATE_CHANGE) {
        const PlayEngineState* st = (const PlayEngineState*)data;
        printf("state %s -> %s\n", gst_element_state_get_name(st->old_st),
               gst_element_state_get_name(st->new_st));
        return;
    }
    if (event != EVENT_ID_EOS && event != EVENT_ID_ERROR)
        return;
    if (event == EVENT_ID_ERROR)
        fprintf(stderr, "error: %s\n", data ? (const char*)data : "unknown");
    g_mutex_lock(&pl->lock);
    pl->done = TRUE;
    pl->failed = event == EVENT_ID_ERROR;
    g_cond_signal(&pl->cond);
    g_mutex_unlock(&pl->lock);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [VIDEO-SINK [AUDIO-SINK]]\n", argv[0]);
        return 2;
    }
    PlayEngine* e = play_engine_create();
    if (!e) {
        fprintf(stderr, "cannot create the play engine\n");
        return 1;
    }
    Player pl = {0};
    g_mutex_init(&pl.lock);
    g_cond_init(&pl.cond);
    e->reg_event_handler(e, &pl, on_event);
    if (argc > 2)
        e->set_video_sink(e, argv[2]);
    if (argc > 3)
        e->set_audio_sink(e, argv[3]);
    e->set_file(e, argv[1]);
    int rc = 0;
    if (e->pause(e) != PLAYENGINE_SUCCESS || e->play(e) != PLAYENGINE_SUCCESS) {
        fprintf(stderr, "cannot play %s\n", argv[1]);
        rc = 1;
    } else {
        gint64 duration = 0;
        e->get_duration(e, &duration);
        printf("playing %s (%.1f s)\n", argv[1], duration / 1e9);
        g_mutex_lock(&pl.lock);
        while (!pl.done)
            g_cond_wait(&pl.cond, &pl.lock);
        rc = pl.failed ? 1 : 0;
        g_mutex_unlock(&pl.lock);
    }
    e->stop(e);
    e->stop_wait_state_change(e);
    play_engine_destroy(e);
    g_cond_clear(&pl.cond);
    g_mutex_clear(&pl.lock);
    return rc;
}
