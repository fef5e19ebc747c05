/* Resident memory of this process over a soak loop, shared by the soak
 * drivers: each calls soak_cycle_done after every cycle and soak_report at
 * the end, which prints one line the soak script reads:
 *   LABEL cycles N rss20 KB rssmid KB rssend KB
 * (after the 20th cycle, after the middle one and at the end). */
#ifndef KORIN_BENCH_SOAK_RSS_H
#define KORIN_BENCH_SOAK_RSS_H

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

#endif
