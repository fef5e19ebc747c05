/* capture-record: records from the camera (or the test pattern) with the
 * recorder engine.
 *
 *   capture-record [-o FILE] [-c CONTAINER] [-e ENCODER] [-s WxH] [-r FPS]
 *                  [-d SECONDS] [-a AUDIO] [-i CAMERA_ID] [-p SNAPSHOT.jpg]
 *                  [-n SNAPSHOTS] [-k TIMES]
 *
 * -c, -e, -a take the engine's codes (container 0-5, encoder 1-4, audio
 * source 0-2).  Without -i the test pattern is used.  -d 0 records until
 * the process is killed.  -p with -n takes that many snapshots first and
 * prints their latency; -o - records nothing.  -k records TIMES times in
 * one process (FILE is overwritten), printing how long each stop took and
 * the resident memory after it.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "recorderengine.h"

static double now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

static REresult on_event(void *ctx, REuint32 event, void *param)
{
    (void)param;
    if (event == RE_EVENT_PREVIEW_BUFFER)
        return 0;
    fprintf(stderr, "capture-record: event %u\n", event);
    *(volatile int *)ctx = (int)event;
    return 0;
}

/* Resident set size in kB, from /proc. */
static long rss_kb(void)
{
    long pages = 0, resident = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = -1;
    fclose(f);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static void usage(void)
{
    fprintf(stderr, "usage: capture-record [-o FILE] [-c CONTAINER] [-e ENCODER] [-s WxH] [-r FPS] "
                    "[-d SECONDS] [-a AUDIO] [-i CAMERA_ID] [-p SNAPSHOT] [-n COUNT] [-k TIMES]\n");
}

int main(int argc, char **argv)
{
    const char *out = NULL, *snap = NULL;
    unsigned container = 0, encoder = 0, width = 0, height = 0, fps = 0, audio = 1, nsnap = 0, times = 1;
    unsigned camera = RE_CAMERA_ID_NONE;
    double seconds = 5;
    int opt;
    while ((opt = getopt(argc, argv, "o:c:e:s:r:d:a:i:p:n:k:h")) != -1) {
        switch (opt) {
        case 'o': out = optarg; break;
        case 'c': container = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'e': encoder = (unsigned)strtoul(optarg, NULL, 10); break;
        case 's':
            if (sscanf(optarg, "%ux%u", &width, &height) != 2) {
                usage();
                return 2;
            }
            break;
        case 'r': fps = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'd': seconds = strtod(optarg, NULL); break;
        case 'a': audio = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'i': camera = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'p': snap = optarg; break;
        case 'n': nsnap = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'k': times = (unsigned)strtoul(optarg, NULL, 10); break;
        default: usage(); return 2;
        }
    }
    if (!out && !snap) {
        usage();
        return 2;
    }
    RecorderEngine *e = recorder_engine_create();
    if (!e) {
        fprintf(stderr, "capture-record: no engine\n");
        return 1;
    }
    volatile int last_event = 0;
    RERawVideoSettings vs = {0, width, height, fps};
    REVideoEncoderSettings venc;
    memset(&venc, 0, sizeof venc);
    venc.encoderType = encoder;
    int rc = 1;
    if (e->init(e) || e->register_event_handler(e, (void *)&last_event, on_event) ||
        e->set_camera_id(e, camera) || e->set_audio_source(e, audio) ||
        e->set_camera_output_settings(e, &vs) || e->set_video_encoder_settings(e, &venc) ||
        e->set_container_format(e, container) || e->prepare(e)) {
        fprintf(stderr, "capture-record: setup failed\n");
        goto done;
    }
    if (snap && nsnap) {
        double worst = 0, total = 0;
        e->set_snapshot_output_file(e, snap);
        for (unsigned i = 0; i < nsnap; i++) {
            double t = now_ms();
            if (e->take_snapshot(e)) {
                fprintf(stderr, "capture-record: snapshot failed\n");
                goto done;
            }
            double d = now_ms() - t;
            total += d;
            if (d > worst)
                worst = d;
            usleep(50 * 1000);
        }
        printf("snapshot latency: mean %.1f ms, worst %.1f ms over %u\n", total / nsnap, worst, nsnap);
    }
    if (times > 1)
        printf("rss before recording %ld kB\n", rss_kb());
    for (unsigned i = 0; out && strcmp(out, "-") != 0 && i < times; i++) {
        if (e->set_output_file_path(e, out) || e->start(e)) {
            fprintf(stderr, "capture-record: start failed\n");
            goto done;
        }
        printf("recording %s\n", out);
        fflush(stdout);
        double end = now_ms() + seconds * 1000;
        while ((seconds <= 0 || now_ms() < end) && last_event == 0)
            usleep(20 * 1000);
        REtime us = 0;
        e->get_media_time(e, &us);
        double stop_at = now_ms();
        if (e->stop(e) && last_event == 0) {
            fprintf(stderr, "capture-record: stop failed\n");
            goto done;
        }
        printf("recorded %.3f s, stop took %.0f ms, rss %ld kB\n", us / 1e6, now_ms() - stop_at, rss_kb());
        fflush(stdout);
    }
    rc = 0;
done:
    e->close(e);
    e->delete_it(e);
    return rc;
}
