/* Where recordings meet the disk: MP4/MOV files that stay compact and survive
 * a kill, and file output that reaches the disk every second.
 *
 * Why fragmented MP4 (mp4mux/qtmux/3gppmux "fragment-duration", the default
 * "dash-or-mss" mode), as measured with GStreamer 1.22:
 * - An index kept in reserved room at the head of the file and refreshed while
 *   recording survives a kill, but the room for the longest recording stays
 *   as padding: a 3 s clip took 4.2 MB per track for 0.4 MB of streams.
 * - The "first-moov-then-finalise" mode ends as a plain file, but it writes
 *   each fragment's index after its data, and a killed recording with sound
 *   played only its first fragment.
 * - "dash-or-mss" writes an index without samples first, then every half
 *   second a fragment (moof, mdat): a killed file plays up to its last whole
 *   fragment, and a finished one gets its total duration (mehd) and a
 *   random-access index (mfra) for seeking, within 5 % of the same streams
 *   muxed plainly.  Shorter fragments lose less to a kill but cost more.
 * A killed fragmented file states no duration, so players show the first
 * fragment's: the timer below keeps mehd at what the file holds.
 *
 * filesink keeps 64 kB of its own, seconds of a low bit rate, and cannot
 * sync: it writes unbuffered here, and a descriptor of our own on the same
 * file is fdatasync'ed every second from the engine's timer thread, off the
 * streaming thread (a slow card stalls only the sync). */
#include "engine_private.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cc {

namespace {

const guint kFragmentMs = 500;
const guint kSyncMs = 1000;
/* A killed file states its duration up to a quarter second behind. */
const guint kTickMs = 250;
/* The sample-less index comes first in the file: a few kB at most. */
const gsize kHeadBytes = 64 * 1024;

struct FileSync {
    Engine *e = nullptr;
    GSource *timer = nullptr;
    bool fragmented = false;

    GMutex m; /* guards what the streaming thread hands over */
    gchar *path = nullptr;        /* the file the sink writes now */
    GstClockTime pending = 0;     /* end of the samples handed to the sink */
    GstClockTime written = 0;     /* end of the samples it has written */
    bool finalising = false;      /* the muxer rewrites its header itself */

    /* Timer thread only. */
    int fd = -1;
    gchar *open_path = nullptr;
    bool warned = false;
    gint64 synced_at = 0;
    gint64 mehd_at = 0; /* file offset of mehd's duration; 0 not looked for, -1 none */
    bool mehd_long = false;
    guint32 timescale = 0;
    GstClockTime stated = 0;
};

guint32 be32(const guint8 *p)
{
    return (guint32)p[0] << 24 | (guint32)p[1] << 16 | (guint32)p[2] << 8 | p[3];
}

/* The box of the given type among those in [at, end) of buf, or null;
 * *size gets its size. */
const guint8 *find_box(const guint8 *at, const guint8 *end, const char *type, gsize *size)
{
    while (end - at >= 8) {
        gsize sz = be32(at);
        if (sz < 8 || sz > (gsize)(end - at))
            return nullptr; /* cut off, or a form the muxer does not write at the head */
        if (memcmp(at + 4, type, 4) == 0) {
            *size = sz;
            return at;
        }
        at += sz;
    }
    return nullptr;
}

/* Finds moov/mvex/mehd and the movie time scale in the file's head. */
bool locate_mehd(FileSync *fs)
{
    guint8 *buf = static_cast<guint8 *>(g_malloc(kHeadBytes));
    ssize_t n = pread(fs->fd, buf, kHeadBytes, 0);
    gsize moov_sz = 0, mvhd_sz = 0, mvex_sz = 0, mehd_sz = 0;
    const guint8 *moov = n > 0 ? find_box(buf, buf + n, "moov", &moov_sz) : nullptr;
    const guint8 *mvhd = moov ? find_box(moov + 8, moov + moov_sz, "mvhd", &mvhd_sz) : nullptr;
    const guint8 *mvex = moov ? find_box(moov + 8, moov + moov_sz, "mvex", &mvex_sz) : nullptr;
    const guint8 *mehd = mvex ? find_box(mvex + 8, mvex + mvex_sz, "mehd", &mehd_sz) : nullptr;
    /* Version 1 boxes hold 64-bit times: the time scale sits 8 bytes later. */
    bool ok = mvhd && mehd && mvhd_sz >= 32 && mehd_sz >= (mehd[8] ? 20u : 16u);
    if (ok) {
        fs->timescale = be32(mvhd + (mvhd[8] ? 28 : 20));
        fs->mehd_long = mehd[8] != 0;
        ok = fs->timescale > 0;
    }
    /* Samples are written after the header: not there now, never there. */
    fs->mehd_at = ok ? (mehd - buf) + 12 : -1;
    g_free(buf);
    return ok;
}

/* States the duration of what the file holds, so players show it even when
 * the muxer never gets to. */
void state_duration(FileSync *fs, GstClockTime written)
{
    if (written <= fs->stated || fs->mehd_at < 0 || (!fs->mehd_at && !locate_mehd(fs)))
        return;
    guint64 units = gst_util_uint64_scale(written, fs->timescale, GST_SECOND);
    guint8 v[8];
    int len = fs->mehd_long ? 8 : 4;
    for (int i = 0; i < len; i++)
        v[i] = (guint8)(units >> (8 * (len - 1 - i)));
    g_mutex_lock(&fs->m);
    bool ok = fs->finalising || pwrite(fs->fd, v, len, fs->mehd_at) == len;
    g_mutex_unlock(&fs->m);
    if (ok)
        fs->stated = written;
}

void close_file(FileSync *fs)
{
    if (fs->fd >= 0) {
        fdatasync(fs->fd);
        close(fs->fd);
    }
    fs->fd = -1;
    g_free(fs->open_path);
    fs->open_path = nullptr;
    fs->mehd_at = 0;
    fs->stated = 0;
    fs->warned = false;
}

/* Opens the file the sink now writes, when that changed (split segments). */
void follow_file(FileSync *fs)
{
    g_mutex_lock(&fs->m);
    gchar *path = g_strdup(fs->path);
    g_mutex_unlock(&fs->m);
    if (!path || g_strcmp0(path, fs->open_path) == 0) {
        g_free(path);
        return;
    }
    close_file(fs);
    fs->open_path = path;
    fs->fd = open(path, O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fs->fd >= 0 && (fstat(fs->fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fs->fd); /* a segment past the count goes to /dev/null */
        fs->fd = -1;
    } else if (fs->fd < 0) {
        eng_warn("cannot open %s to sync it to disk (%s)", path, g_strerror(errno));
    }
}

gboolean on_sync_tick(gpointer data)
{
    FileSync *fs = static_cast<FileSync *>(data);
    follow_file(fs);
    if (fs->fd < 0)
        return G_SOURCE_CONTINUE;
    g_mutex_lock(&fs->m);
    GstClockTime written = fs->written;
    g_mutex_unlock(&fs->m);
    /* Stated before the sync, which then makes it durable with the samples
     * it counts (written earlier). */
    if (fs->fragmented)
        state_duration(fs, written);
    gint64 now = g_get_monotonic_time();
    if (now - fs->synced_at < kSyncMs * G_TIME_SPAN_MILLISECOND)
        return G_SOURCE_CONTINUE;
    fs->synced_at = now;
    if (fdatasync(fs->fd) != 0 && !fs->warned) {
        fs->warned = true;
        eng_warn("cannot sync %s to disk (%s)", fs->open_path, g_strerror(errno));
    }
    return G_SOURCE_CONTINUE;
}

/* On the streaming thread, into the sink: which file, how far it is written. */
GstPadProbeReturn on_sink_data(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    FileSync *fs = static_cast<FileSync *>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer *b = GST_PAD_PROBE_INFO_BUFFER(info);
        g_mutex_lock(&fs->m);
        fs->written = fs->pending; /* the sink has written every earlier buffer */
        /* H.263 samples come without a duration: then a frame short. */
        GstClockTime dur = GST_BUFFER_DURATION_IS_VALID(b) ? GST_BUFFER_DURATION(b) : 0;
        if (GST_BUFFER_PTS_IS_VALID(b))
            fs->pending = MAX(fs->pending, GST_BUFFER_PTS(b) + dur);
        g_mutex_unlock(&fs->m);
        return GST_PAD_PROBE_OK;
    }
    GstEvent *ev = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(ev) == GST_EVENT_STREAM_START) {
        /* A new file: the sink opened it on its way to playing. */
        GstObject *sink = gst_pad_get_parent(pad);
        gchar *path = nullptr;
        if (sink) {
            g_object_get(sink, "location", &path, NULL);
            gst_object_unref(sink);
        }
        g_mutex_lock(&fs->m);
        g_free(fs->path);
        fs->path = path;
        fs->pending = fs->written = 0;
        fs->finalising = false;
        g_mutex_unlock(&fs->m);
    } else if (GST_EVENT_TYPE(ev) == GST_EVENT_SEGMENT) {
        /* A segment after data: the muxer goes back to rewrite its header. */
        g_mutex_lock(&fs->m);
        fs->finalising = fs->pending > 0;
        g_mutex_unlock(&fs->m);
    }
    return GST_PAD_PROBE_OK;
}

void file_sync_free(gpointer data)
{
    FileSync *fs = static_cast<FileSync *>(data);
    events_destroy_source_sync(fs->e, fs->timer);
    close_file(fs); /* the finished file's last sync */
    g_free(fs->path);
    g_mutex_clear(&fs->m);
    delete fs;
}

} // namespace

bool mux_make_fragmented(GstElement *mux)
{
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(mux), "fragment-duration"))
        return false;
    g_object_set(mux, "fragment-duration", kFragmentMs, NULL);
    return true;
}

GstElement *mux_file_sink(Engine *e, GstElement *bin, const char *path, bool fragmented)
{
    GstElement *sink = bin ? eng_make(bin, "filesink") : gst_element_factory_make("filesink", nullptr);
    GstPad *pad = sink ? gst_element_get_static_pad(sink, "sink") : nullptr;
    if (!pad) {
        if (sink && !bin)
            gst_object_unref(sink);
        return nullptr;
    }
    gst_util_set_object_arg(G_OBJECT(sink), "buffer-mode", "unbuffered");
    g_object_set(sink, "async", FALSE, NULL);
    if (path)
        g_object_set(sink, "location", path, NULL);
    FileSync *fs = new FileSync();
    fs->e = e;
    fs->fragmented = fragmented;
    g_mutex_init(&fs->m);
    g_object_set_data_full(G_OBJECT(sink), "cc-file-sync", fs, file_sync_free);
    GstPadProbeType what = (GstPadProbeType)(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    gulong probe = gst_pad_add_probe(pad, what, on_sink_data, fs, nullptr);
    gst_object_unref(pad);
    if (!probe) {
        eng_warn("cannot watch the file sink; the recording is not synced to disk");
        return sink;
    }
    fs->timer = events_add_timer(e, kTickMs, on_sync_tick, fs);
    return sink;
}

} // namespace cc
