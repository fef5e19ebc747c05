/* Helpers shared by the recorder engine tests: an engine driven the way the
 * camera's adapter drives it, an event log, and independent checks of the
 * files written (gst-discoverer-1.0 and a decode with GStreamer). */
#ifndef CAPTURE_TEST_UTIL_H
#define CAPTURE_TEST_UTIL_H

#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>
#include <QtTest>

#include <X11/Xutil.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <initializer_list>

#include "recorderengine.h"
#include "../xwindow.h"

/* Events as the handler saw them, from the engine's threads; preview buffers
 * are only counted (complete I420 ones) with the width of the last. */
struct EventLog {
    QMutex m;
    QWaitCondition cv;
    QVector<REuint32> events;
    std::atomic<int> previews{0};
    std::atomic<unsigned> previewWidth{0};
    std::function<void(REuint32)> onEvent; /* runs on the engine thread, like the adapter's stop */

    static REresult handler(void *ctx, REuint32 event, void *param)
    {
        EventLog *log = static_cast<EventLog *>(ctx);
        if (event == RE_EVENT_PREVIEW_BUFFER) {
            const REPreviewBuffer *pb = static_cast<const REPreviewBuffer *>(param);
            if (pb && pb->data && pb->size >= pb->width * pb->height * 3 / 2)
                log->previews++;
            log->previewWidth = pb ? pb->width : 0;
            return 0;
        }
        if (log->onEvent)
            log->onEvent(event);
        QMutexLocker l(&log->m);
        log->events.append(event);
        log->cv.wakeAll();
        return 0;
    }
    bool waitFor(REuint32 event, int ms)
    {
        QElapsedTimer t;
        t.start();
        QMutexLocker l(&m);
        while (!events.contains(event)) {
            int left = ms - int(t.elapsed());
            if (left <= 0 || !cv.wait(&m, left))
                return events.contains(event);
        }
        return true;
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
    if (!e)
        return nullptr;
    RERawVideoSettings raw = {0, 0, 0, 0};
    REVideoRect rect = {0, 0, 0, 0};
    REAudioEncoderSettings aenc = {0, 0, {0}};
    REVideoEncoderSettings venc = {0, 0, 0, 0, 0, {0}};
    bool ok = e->init(e) == 0 && e->register_event_handler(e, log, EventLog::handler) == 0 &&
              e->set_audio_source(e, 0) == 0 && e->set_audio_sample_rate(e, 0) == 0 &&
              e->set_audio_channel(e, 0) == 0 && e->set_video_source(e, 0) == 0 &&
              e->set_camera_id(e, RE_CAMERA_ID_NONE) == 0 && e->set_camera_output_settings(e, &raw) == 0 &&
              e->set_preview_region(e, &rect) == 0 && e->need_preview_buffer(e, 0) == 0 &&
              e->set_audio_encoder_settings(e, &aenc) == 0 && e->set_video_encoder_settings(e, &venc) == 0 &&
              e->set_container_format(e, 0) == 0 && e->set_file_count(e, 0) == 0 &&
              e->set_max_file_size_bytes(e, 0) == 0;
    if (ok && window)
        ok = e->set_preview_win_id(e, reinterpret_cast<void *>(window)) == 0;
    if (!ok) {
        e->delete_it(e);
        return nullptr;
    }
    return e;
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

/* Index of the first call that was accepted, or -1 when all were refused. */
inline int firstAccepted(std::initializer_list<REresult> results)
{
    int i = 0;
    for (REresult r : results) {
        if (r == 0)
            return i;
        i++;
    }
    return -1;
}

/* What gst-discoverer-1.0 (the player's view) says about a file. */
struct Discovered {
    bool ok = false;
    double duration = 0;
    int videoStreams = 0, audioStreams = 0;
    QString container, text;
};

inline Discovered discover(const QString &path)
{
    Discovered d;
    QProcess p;
    p.start("gst-discoverer-1.0", {path});
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return d;
    }
    d.text = QString::fromUtf8(p.readAllStandardOutput());
    QRegularExpressionMatch m =
        QRegularExpression("Duration: (\\d+):(\\d+):(\\d+\\.\\d+)").match(d.text);
    if (m.hasMatch())
        d.duration = m.captured(1).toDouble() * 3600 + m.captured(2).toDouble() * 60 + m.captured(3).toDouble();
    d.videoStreams = d.text.count(QRegularExpression("\\bvideo #\\d+"));
    d.audioStreams = d.text.count(QRegularExpression("\\baudio #\\d+"));
    QRegularExpressionMatch c = QRegularExpression("container #?\\d*:? ?([^\\n]+)").match(d.text);
    if (c.hasMatch())
        d.container = c.captured(1).trimmed();
    d.ok = p.exitCode() == 0 && !d.text.contains("error was encountered") && d.videoStreams > 0;
    return d;
}

/* Decodes every video frame of a file, as a player would. */
struct Decoded {
    bool ok = false;
    int frames = 0, width = 0, height = 0;
    double last = -1, maxGap = 0;
    QString error;
};

inline Decoded decodeVideo(const QString &path)
{
    Decoded d;
    gchar *uri = gst_filename_to_uri(path.toUtf8().constData(), nullptr);
    gchar *desc = g_strdup_printf("uridecodebin uri=\"%s\" caps=video/x-raw ! videoconvert ! "
                                  "appsink name=s sync=false caps=video/x-raw,format=I420",
                                  uri);
    GError *err = nullptr;
    GstElement *p = gst_parse_launch(desc, &err);
    g_free(desc);
    g_free(uri);
    if (!p) {
        d.error = err ? err->message : "parse";
        g_clear_error(&err);
        return d;
    }
    GstElement *sink = gst_bin_get_by_name(GST_BIN(p), "s");
    gst_element_set_state(p, GST_STATE_PLAYING);
    double prev = -1;
    for (;;) {
        GstSample *s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
        if (!s)
            break;
        GstBuffer *b = gst_sample_get_buffer(s);
        double t = GST_BUFFER_PTS_IS_VALID(b) ? GST_BUFFER_PTS(b) / 1e9 : -1;
        if (d.frames == 0) {
            GstStructure *st = gst_caps_get_structure(gst_sample_get_caps(s), 0);
            gst_structure_get_int(st, "width", &d.width);
            gst_structure_get_int(st, "height", &d.height);
        }
        if (prev >= 0 && t - prev > d.maxGap)
            d.maxGap = t - prev;
        prev = t;
        d.last = t;
        d.frames++;
        gst_sample_unref(s);
    }
    GstBus *bus = gst_element_get_bus(p);
    GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    if (msg) {
        GError *e2 = nullptr;
        gst_message_parse_error(msg, &e2, nullptr);
        d.error = e2 ? e2->message : "error";
        g_clear_error(&e2);
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
