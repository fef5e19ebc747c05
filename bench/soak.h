/* What the soak drivers share: resident memory of this process over a soak
 * loop (soak_cycle_done after every cycle; soak_report at the end prints one
 * line the soak script reads:
 *   LABEL cycles N rss20 KB rssmid KB rssend KB
 * after the 20th cycle, after the middle one and at the end), their main,
 * and the wait for a bare pipeline's end. */
#ifndef KORIN_BENCH_SOAK_H
#define KORIN_BENCH_SOAK_H

#include <gst/gst.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define SOAK_WARM_CYCLES 20

typedef struct {
    int cycles; /* planned */
    long rss_warm, rss_mid, rss_end;
} SoakRss;

/* VmRSS of this process in kB, -1 when it cannot be read. */
static inline long soak_rss_kb(void)
{
    FILE *f = fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "VmRSS:", 6) == 0) {
            kb = strtol(line + 6, NULL, 10);
            break;
        }
    fclose(f);
    return kb;
}

/* Planned cycles from argv[index] (default def); at least twice the warm-up. */
static inline int soak_cycles_arg(int argc, char **argv, int index, int def)
{
    int n = argc > index ? atoi(argv[index]) : def;
    return n < 2 * SOAK_WARM_CYCLES ? 2 * SOAK_WARM_CYCLES : n;
}

static inline void soak_cycle_done(SoakRss *s, int done)
{
    if (done == SOAK_WARM_CYCLES)
        s->rss_warm = soak_rss_kb();
    if (done == s->cycles / 2)
        s->rss_mid = soak_rss_kb();
    if (done == s->cycles)
        s->rss_end = soak_rss_kb();
}

static inline void soak_report(const SoakRss *s, const char *label)
{
    printf("%s cycles %d rss20 %ld rssmid %ld rssend %ld\n", label, s->cycles, s->rss_warm, s->rss_mid,
           s->rss_end);
    fflush(stdout);
}

/* True when p reaches its end (EOS) without an error within 20 s. */
static inline int soak_wait_eos(GstElement *p)
{
    GstBus *bus = gst_element_get_bus(p);
    GstMessage *m = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, (GstMessageType)(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    int ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m)
        gst_message_unref(m);
    gst_object_unref(bus);
    return ok;
}

/* A driver's main: argv is "engine|bare ARG [CYCLES]"; run does the loop
 * of one side and returns 0 when every cycle worked. */
static inline int soak_main(int argc, char **argv, const char *what, const char *arg_name, int def_cycles,
                            int (*run)(int engine, const char *arg, SoakRss *s))
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s engine|bare %s [CYCLES]\n", argv[0], arg_name);
        return 2;
    }
    int engine = strcmp(argv[1], "engine") == 0;
    SoakRss s = {soak_cycles_arg(argc, argv, 3, def_cycles), -1, -1, -1};
    if (run(engine, argv[2], &s) != 0) {
        fprintf(stderr, "%s soak (%s) failed\n", what, argv[1]);
        return 1;
    }
    char label[64];
    snprintf(label, sizeof label, "%s-%s", what, engine ? "engine" : "bare");
    soak_report(&s, label);
    return 0;
}

#endif
