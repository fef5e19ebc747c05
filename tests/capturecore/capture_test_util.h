/* Helpers shared by the recorder engine tests: an engine driven the way the
 * camera's adapter drives it, an event log, and an independent check of the
 * files written (a decode with GStreamer, as a player makes it). */
#ifndef CAPTURE_TEST_UTIL_H
#define CAPTURE_TEST_UTIL_H

#include <QMutex>
#include <QThread>
#include <QVector>
#include <QtTest>

#include <X11/Xutil.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <functional>

#include "recorderengine.h"
#include "../xwindow.h"

/* Events as the handler saw them, from the engine's threads. */
struct EventLog {
    QMutex m;
    QVector<REuint32> events;
    std::function<void(REuint32)> onEvent; /* runs on the engine thread, like the adapter's stop */

    static REresult handler(void *ctx, REuint32 event, void *)
    {
        EventLog *log = static_cast<EventLog *>(ctx);
        if (log->onEvent)
            log->onEvent(event);
        QMutexLocker l(&log->m);
        log->events.append(event);
        return 0;
    }
    bool waitFor(REuint32 event, int ms)
    {
        return QTest::qWaitFor([this, event] { return count(event) > 0; }, ms);
    }
    void clear()
    {
        QMutexLocker l(&m);
        events.clear();
    }
    int count(REuint32 event)
    {
        QMutexLocker l(&m);
        return events.count(event);
    }
};

/* Creates an engine and sends what the camera sends at start-up: init, the
 * handler, all-zero defaults, no camera; the window id if one is given. */
inline RecorderEngine *startEngine(EventLog *log, unsigned long window = 0)
{
    RecorderEngine *e = recorder_engine_create();
    RERawVideoSettings raw{};
    REVideoRect rect{};
    REAudioEncoderSettings aenc{};
    REVideoEncoderSettings venc{};
    bool ok = e && !e->init(e) && !e->register_event_handler(e, log, EventLog::handler) &&
              !e->set_audio_source(e, 0) && !e->set_audio_sample_rate(e, 0) && !e->set_audio_channel(e, 0) &&
              !e->set_video_source(e, 0) && !e->set_camera_id(e, RE_CAMERA_ID_NONE) &&
              !e->set_camera_output_settings(e, &raw) && !e->set_preview_region(e, &rect) &&
              !e->need_preview_buffer(e, 0) && !e->set_audio_encoder_settings(e, &aenc) &&
              !e->set_video_encoder_settings(e, &venc) && !e->set_container_format(e, 0) &&
              !e->set_file_count(e, 0) && !e->set_max_file_size_bytes(e, 0) &&
              (!window || !e->set_preview_win_id(e, reinterpret_cast<void *>(window)));
    if (!ok && e)
        e->delete_it(e);
    return ok ? e : nullptr;
}

inline void endEngine(RecorderEngine *e)
{
    if (e) {
        e->close(e);
        e->delete_it(e);
    }
}

/* Sets the output path and starts recording there. */
inline REresult startAt(RecorderEngine *e, const QString &path)
{
    REresult r = e->set_output_file_path(e, path.toUtf8().constData());
    return r ? r : e->start(e);
}

/* Waits until the recording holds s seconds by the engine's media time. */
inline bool recordedFor(RecorderEngine *e, double s)
{
    return QTest::qWaitFor([e, s] {
        REtime us = 0;
        return e->get_media_time(e, &us) == 0 && us >= s * 1e6;
    }, 30000);
}

/* Decodes every video frame of a file, as a player would; duration is what
 * the file states (header or last tag), 0 when it states none. */
struct Decoded {
    bool ok = false;
    int frames = 0, width = 0;
    double last = -1, maxGap = 0, duration = 0;
    QString error;
};

/* A pipeline decoding the file's pictures into *sink, an appsink. */
inline GstElement *videoDecoder(const QString &path, GstElement **sink)
{
    gchar *uri = gst_filename_to_uri(path.toUtf8().constData(), nullptr);
    gchar *desc = g_strdup_printf("uridecodebin uri=\"%s\" caps=video/x-raw ! appsink name=s sync=false", uri);
    GstElement *p = gst_parse_launch(desc, nullptr);
    g_free(desc);
    g_free(uri);
    *sink = p ? gst_bin_get_by_name(GST_BIN(p), "s") : nullptr;
    return p;
}

inline Decoded decodeVideo(const QString &path)
{
    Decoded d;
    GstElement *sink = nullptr;
    GstElement *p = videoDecoder(path, &sink);
    if (!p)
        return d;
    gst_element_set_state(p, GST_STATE_PLAYING);
    while (GstSample *s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstBuffer *b = gst_sample_get_buffer(s);
        double t = GST_BUFFER_PTS_IS_VALID(b) ? GST_BUFFER_PTS(b) / 1e9 : -1;
        gint64 ns = 0;
        if (d.frames++ == 0 && gst_element_query_duration(p, GST_FORMAT_TIME, &ns))
            d.duration = ns / 1e9;
        if (d.frames == 1)
            gst_structure_get_int(gst_caps_get_structure(gst_sample_get_caps(s), 0), "width", &d.width);
        else if (t - d.last > d.maxGap)
            d.maxGap = t - d.last;
        d.last = t;
        gst_sample_unref(s);
    }
    GstBus *bus = gst_element_get_bus(p);
    if (GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        d.error = QString("error from ") + GST_OBJECT_NAME(GST_MESSAGE_SRC(msg));
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(p);
    d.ok = d.frames > 0 && d.error.isEmpty();
    return d;
}

#endif
