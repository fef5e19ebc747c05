/* Snapshots and preview frames, both taken from the capture tee's frame tap. */
#include "engine_private.h"

#include <fcntl.h>
#include <gst/video/video.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cc {

namespace {

/* Writes the whole picture under a temporary name, flushes it to disk and
 * renames it into place, so the path never holds half a file. */
bool write_file_durably(const char *path, const guint8 *data, gsize size)
{
    gchar *tmp = g_strdup_printf("%s.partXXXXXX", path);
    int fd = g_mkstemp(tmp);
    if (fd < 0) {
        eng_warn("take_snapshot: cannot write in the folder of %s: %s", path, g_strerror(errno));
        g_free(tmp);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0;
    gsize done = 0;
    while (ok && done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += (gsize)n;
    }
    if (ok && fsync(fd) != 0)
        ok = false;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && g_rename(tmp, path) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        eng_warn("take_snapshot: writing %s failed: %s", path, g_strerror(saved));
        g_unlink(tmp);
    }
    g_free(tmp);
    return ok;
}

/* Whether the frame was captured at running time t or later. */
bool captured_since(GstSample *sample, GstClockTime t)
{
    GstBuffer *buf = sample ? gst_sample_get_buffer(sample) : nullptr;
    GstSegment *seg = sample ? gst_sample_get_segment(sample) : nullptr;
    if (!GST_CLOCK_TIME_IS_VALID(t) || !buf || !seg || !GST_BUFFER_PTS_IS_VALID(buf))
        return true;
    GstClockTime at = gst_segment_to_running_time(seg, GST_FORMAT_TIME, GST_BUFFER_PTS(buf));
    return !GST_CLOCK_TIME_IS_VALID(at) || at >= t;
}

/* Keeps the frame for snapshots; whether the caller wants it as a preview buffer. */
bool keep_frame(Engine *e, GstSample *sample)
{
    g_mutex_lock(&e->flock);
    if (e->last_sample)
        gst_sample_unref(e->last_sample);
    e->last_sample = gst_sample_ref(sample);
    e->frames++;
    g_cond_broadcast(&e->fcond);
    g_mutex_unlock(&e->flock);
    return g_atomic_int_get(&e->want_pbuf) != 0;
}

} // namespace

void snapshot_frame_arrived(Engine *e, GstSample *sample)
{
    if (!keep_frame(e, sample))
        return;
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buf = gst_sample_get_buffer(sample);
    if (!caps || !buf || !gst_video_info_from_caps(&info, caps))
        return;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buf, GST_MAP_READ))
        return;
    REPreviewBuffer pb = {};
    pb.data = GST_VIDEO_FRAME_PLANE_DATA(&frame, 0);
    pb.size = gst_buffer_get_size(buf);
    pb.format = RE_VIDEO_FORMAT_I420;
    pb.width = GST_VIDEO_INFO_WIDTH(&info);
    pb.height = GST_VIDEO_INFO_HEIGHT(&info);
    for (int i = 0; i < 3; i++) {
        pb.stride[i] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i);
        pb.offset[i] = GST_VIDEO_FRAME_PLANE_OFFSET(&frame, i);
    }
    pb.timestampUs = GST_BUFFER_PTS_IS_VALID(buf) ? GST_BUFFER_PTS(buf) / GST_USECOND : 0;
    events_deliver(e, RE_EVENT_PREVIEW_BUFFER, &pb);
    gst_video_frame_unmap(&frame);
}

REresult snapshot_take(Engine *e)
{
    if (!e->cap) {
        eng_warn("take_snapshot: the engine is not prepared (call prepare first)");
        return CC_FAIL;
    }
    const char *path = e->s.snapshot_path;
    if (!path) {
        eng_warn("take_snapshot: no output path set");
        return CC_FAIL;
    }
    gchar *dir = g_path_get_dirname(path);
    bool dir_ok = g_file_test(dir, G_FILE_TEST_IS_DIR);
    if (!dir_ok)
        eng_warn("take_snapshot: folder %s does not exist", dir);
    g_free(dir);
    if (!dir_ok)
        return CC_FAIL;

    /* A frame captured from now on, so the picture is what the camera sees
     * now, with the stamp and effect just set (on a slow board the frames
     * already on their way were captured before). */
    GstClockTime now = capture_running_time(e);
    GstSample *sample = nullptr;
    gint64 deadline = g_get_monotonic_time() + 2 * G_TIME_SPAN_SECOND;
    g_mutex_lock(&e->flock);
    guint64 seen = e->frames;
    while (!e->cap_failed && (e->frames == seen || !captured_since(e->last_sample, now)))
        if (!g_cond_wait_until(&e->fcond, &e->flock, deadline))
            break;
    if (e->frames != seen && e->last_sample)
        sample = gst_sample_ref(e->last_sample);
    g_mutex_unlock(&e->flock);
    if (!sample) {
        eng_warn("take_snapshot: the video source delivers no frames");
        return CC_FAIL;
    }

    bool png = e->s.snapshot_format == 2;
    GstCaps *to = gst_caps_new_empty_simple(png ? "image/png" : "image/jpeg");
    GError *err = nullptr;
    GstSample *pic = gst_video_convert_sample(sample, to, 5 * GST_SECOND, &err);
    gst_caps_unref(to);
    gst_sample_unref(sample);
    if (!pic) {
        eng_warn("take_snapshot: encoding failed: %s", err ? err->message : "?");
        g_clear_error(&err);
        return CC_FAIL;
    }
    bool ok = false;
    GstBuffer *buf = gst_sample_get_buffer(pic);
    GstMapInfo map;
    if (buf && gst_buffer_map(buf, &map, GST_MAP_READ)) {
        ok = write_file_durably(path, map.data, map.size);
        gst_buffer_unmap(buf, &map);
    }
    gst_sample_unref(pic);
    if (ok)
        eng_info("snapshot written: %s", path);
    return ok ? CC_OK : CC_FAIL;
}

} // namespace cc
