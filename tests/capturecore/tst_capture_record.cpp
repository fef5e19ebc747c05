/* Recordings end to end, written by the engine and played back by a full
 * decode (every pair the camera offers is
 * recorded through its settings dialog in tst_camera_settings_engine); and
 * limits and accidents: size limits, split recordings, a killed process and
 * a full disk must all leave files that play. */
#include "capture_test_util.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <thread>

class TestCaptureRecord : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = nullptr;
    std::atomic<int> callbackStops{0};

    /* No limits, and the adapter's stop on events 1, 3 and 4. */
    void resetLimits()
    {
        e->set_max_file_size_bytes(e, 0);
        e->set_file_count(e, 0);
        e->set_container_format(e, 0);
        log.clear();
        log.onEvent = [this](REuint32 ev) {
            if (ev == RE_EVENT_ERROR || ev == RE_EVENT_MAX_DURATION || ev == RE_EVENT_MAX_FILESIZE)
                e->stop(e);
        };
    }

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        e = startEngine(&log);
        QVERIFY(e);
        QCOMPARE(e->prepare(e), 0u);
    }
    void cleanupTestCase()
    {
        endEngine(e);
        log.onEvent = nullptr;
    }
    void mpeg2RateAndContainers();
    void pauseLeavesNoGap();
    void concurrentStops();
    void sizeLimitOneFile();
    void splitBySizeAndCount();
    void compactFinishedFile_data();
    void compactFinishedFile();
    void killedRecordingPlays_data();
    void killedRecordingPlays();
    void fullDiskKeepsFile_data();
    void fullDiskKeepsFile();
};

void TestCaptureRecord::mpeg2RateAndContainers()
{
    /* MPEG-2 knows no 15 fps: the nearest rate it has, 23.976. */
    RERawVideoSettings out = {0, 640, 480, 15}, def = {0, 0, 0, 0};
    REVideoEncoderSettings venc = {4, 0, 0, 0, 0, {0}};
    QCOMPARE(e->set_camera_output_settings(e, &out), 0u);
    QCOMPARE(e->reset(e), 0u);
    QCOMPARE(e->set_video_encoder_settings(e, &venc), 0u);
    QCOMPARE(e->set_container_format(e, 5), 0u);
    QString path = dir.path() + "/mpeg2.ts";
    REtime us = 0;
    QVERIFY(startAt(e, path) == 0 && recordedFor(e, 2) && e->get_media_time(e, &us) == 0 && e->stop(e) == 0);
    double media = us / 1e6;
    /* stop returned, so the file is final: it plays at once. */
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok && v.width == 640 && qAbs(v.duration - media) <= 0.1 * media, qPrintable(v.error));
    QVERIFY2(qAbs(v.frames - media * 23.976) <= 0.05 * media * 23.976, qPrintable(QString::number(v.frames)));
    /* Neither MP4 nor MOV can carry MPEG-2: refused, no file. */
    const QString mp4 = dir.path() + "/mpeg2.mp4";
    QVERIFY(!e->set_container_format(e, 0) && startAt(e, mp4) && !e->set_container_format(e, 1) && startAt(e, mp4));
    QVERIFY(!QFileInfo::exists(mp4));
    venc.encoderType = 0;
    QCOMPARE(e->set_video_encoder_settings(e, &venc), 0u);
    QCOMPARE(e->set_camera_output_settings(e, &def), 0u);
    QCOMPARE(e->reset(e), 0u);
    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
}

void TestCaptureRecord::pauseLeavesNoGap()
{
    QCOMPARE(e->set_container_format(e, 0), 0u);
    QCOMPARE(e->set_file_count(e, 1), 0u); /* without a size limit it limits nothing */
    log.clear();
    QString path = dir.path() + "/paused.mp4", second = dir.path() + "/second.mp4";
    QCOMPARE(startAt(e, path), 0u);
    QVERIFY(recordedFor(e, 1.5));
    QVERIFY(startAt(e, second) != 0); /* one recording at a time; the first goes on */
    QCOMPARE(e->pause(e), 0u);
    QVERIFY(e->pause(e) && e->start(e));
    REtime atPause = 0, later = 0, media = 0;
    QCOMPARE(e->get_media_time(e, &atPause), 0u);
    QTest::qWait(1500); /* the pause itself */
    QCOMPARE(e->get_media_time(e, &later), 0u);
    QVERIFY(later - atPause < 100000); /* the clock stands still while paused */
    QCOMPARE(e->resume(e), 0u);
    QVERIFY(recordedFor(e, 3) && e->get_media_time(e, &media) == 0);
    QCOMPARE(e->stop(e), 0u);
    QVERIFY(e->stop(e) != 0); /* nothing left to stop */
    QCOMPARE(e->set_file_count(e, 0), 0u);
    QVERIFY(!QFileInfo::exists(second));
    QCOMPARE(log.count(RE_EVENT_MAX_FILESIZE) + log.count(RE_EVENT_MAX_DURATION) + log.count(RE_EVENT_ERROR), 0);
    double m = media / 1e6;
    /* No gap and no run of repeated frames: one frame every 1/30 s throughout. */
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok && qAbs(v.duration - m) <= 0.1 * m && v.maxGap < 0.1,
             qPrintable(QString("duration %1, gap of %2 s").arg(v.duration).arg(v.maxGap)));
    QVERIFY2(qAbs(v.frames - m * 30) < 10, qPrintable(QString("%1 frames").arg(v.frames)));
}

void TestCaptureRecord::concurrentStops()
{
    /* As the adapter does: stop from the event callback, while another
     * thread stops too and the media time is read all the while. */
    log.onEvent = [this](REuint32 ev) {
        if (ev != RE_EVENT_MAX_DURATION)
            return;
        std::thread other([this] { e->stop(e); });
        e->stop(e);
        other.join();
        callbackStops++;
    };
    QCOMPARE(e->set_container_format(e, 2), 0u);
    QCOMPARE(e->set_max_file_duration(e, 1000000), 0u);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        REtime us;
        while (!done)
            e->get_media_time(e, &us);
    });
    for (int round = 0; round < 2; round++) {
        /* Round 0: the limit ends it; round 1: a user stop races the limit. */
        QString path = QString("%1/race%2.mkv").arg(dir.path()).arg(round);
        log.clear();
        QCOMPARE(startAt(e, path), 0u);
        if (round == 0) {
            QVERIFY(log.waitFor(RE_EVENT_MAX_DURATION, 10000));
            QTRY_COMPARE_WITH_TIMEOUT(callbackStops.load(), 1, 5000);
            /* The media time stops at the limit, and only the duration limit fired. */
            REtime us = 0;
            QCOMPARE(e->get_media_time(e, &us), 0u);
            QVERIFY2(us <= 1000000 && us > 900000 && log.count(RE_EVENT_MAX_FILESIZE) == 0, qPrintable(QString::number(us)));
        } else {
            recordedFor(e, 0.97);
            std::thread([this] { e->stop(e); }).join();
        }
        Decoded v = decodeVideo(path);
        QVERIFY2(v.ok && v.duration > 0.8 && v.duration < 1.15, qPrintable(QString::number(v.duration)));
    }
    done = true;
    reader.join();
    QCOMPARE(e->set_max_file_duration(e, 0), 0u);
    /* The engine takes a new recording afterwards. */
    QString after = dir.path() + "/after.mkv";
    QVERIFY(startAt(e, after) == 0 && recordedFor(e, 0.5) && e->stop(e) == 0 && decodeVideo(after).ok);
}

void TestCaptureRecord::sizeLimitOneFile()
{
    resetLimits();
    const REuint64 limit = 600 * 1024;
    for (int container : {0, 2}) {
        log.clear();
        QString path = QString("%1/capped%2.%3").arg(dir.path()).arg(container).arg(container ? "mkv" : "mp4");
        QCOMPARE(e->set_container_format(e, container), 0u);
        QCOMPARE(e->set_max_file_size_bytes(e, limit), 0u);
        QCOMPARE(startAt(e, path), 0u);
        QVERIFY(log.waitFor(RE_EVENT_MAX_FILESIZE, 20000)); /* the handler has stopped it by then */
        qint64 size = QFileInfo(path).size();
        QVERIFY2(size <= qint64(limit) && size > qint64(limit / 2), qPrintable(QString::number(size)));
        QCOMPARE(QDir(dir.path()).entryList({QString("capped%1*").arg(container)}, QDir::Files).size(), 1);
        QVERIFY(decodeVideo(path).duration > 1.0);
    }
}

void TestCaptureRecord::splitBySizeAndCount()
{
    resetLimits();
    /* As the camera names it: a folder and a file of the same stem. */
    QDir(dir.path()).mkdir("rec");
    const REuint64 limit = 300 * 1024;
    QCOMPARE(e->set_max_file_size_bytes(e, limit), 0u);
    QCOMPARE(e->set_file_count(e, 3), 0u);
    QCOMPARE(startAt(e, dir.path() + "/rec/rec.mp4"), 0u);
    QVERIFY(log.waitFor(RE_EVENT_MAX_FILESIZE, 30000));
    QStringList segs = QDir(dir.path() + "/rec").entryList(QDir::Files, QDir::Name);
    QCOMPARE(segs, (QStringList{"rec_001.ts", "rec_002.ts", "rec_003.ts"}));
    double total = 0;
    for (const QString &s : segs) {
        QString f = dir.path() + "/rec/" + s;
        qint64 size = QFileInfo(f).size();
        QVERIFY2(size <= qint64(limit) && size > qint64(limit / 3), qPrintable(s + " " + QString::number(size)));
        QFile ts(f);
        QVERIFY(ts.open(QIODevice::ReadOnly) && ts.read(1) == "\x47"); /* MPEG-TS sync byte */
        /* Each segment plays on its own from its first frame. */
        Decoded v = decodeVideo(f);
        QVERIFY2(v.ok && v.frames > 10, qPrintable(s + v.error));
        total += v.duration;
    }
    REtime us = 0;
    QCOMPARE(e->get_media_time(e, &us), 0u);
    QVERIFY2(qAbs(total - us / 1e6) < 0.15 * total, qPrintable(QString("%1 vs %2").arg(total).arg(us / 1e6)));
}

/* The same streams muxed plainly by GStreamer: the size the recording is
 * measured against. */
static qint64 plainRemuxSize(const QString &path, const char *muxer)
{
    const QString out = path + ".plain";
    gchar *desc = g_strdup_printf("filesrc location=\"%s\" ! qtdemux name=d d.video_0 ! queue ! h264parse ! mux. "
                                  "d.audio_0 ! queue ! aacparse ! mux. %s name=mux ! filesink location=\"%s\"",
                                  qPrintable(path), muxer, qPrintable(out));
    GstElement *p = gst_parse_launch(desc, nullptr);
    g_free(desc);
    if (!p)
        return -1;
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(p);
    GstMessage *m = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                               GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m)
        gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return ok ? QFileInfo(out).size() : -1;
}

/* Where an accurate seek to t lands: the time of the first picture shown. */
static double seekLandsAt(const QString &path, double t)
{
    GstElement *sink = nullptr;
    GstElement *p = videoDecoder(path, &sink);
    double at = -1;
    if (!p)
        return at;
    gst_element_set_state(p, GST_STATE_PAUSED);
    if (gst_element_get_state(p, nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS &&
        gst_element_seek_simple(p, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                gint64(t * GST_SECOND)) &&
        gst_element_get_state(p, nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS) {
        if (GstSample *s = gst_app_sink_pull_preroll(GST_APP_SINK(sink))) {
            at = GST_BUFFER_PTS(gst_sample_get_buffer(s)) / 1e9;
            gst_sample_unref(s);
        }
    }
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(p);
    return at;
}

void TestCaptureRecord::compactFinishedFile_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<QString>("muxer");
    QTest::newRow("mp4") << 0 << "mp4mux";
    QTest::newRow("mov") << 1 << "qtmux";
}

void TestCaptureRecord::compactFinishedFile()
{
    QFETCH(int, container);
    QFETCH(QString, muxer);
    resetLimits();
    QCOMPARE(e->set_audio_source(e, 2), 0u); /* a test tone: both kinds of stream */
    QCOMPARE(e->set_container_format(e, container), 0u);
    const QString path = QString("%1/compact.%2").arg(dir.path(), QTest::currentDataTag());
    REtime us = 0;
    QVERIFY(startAt(e, path) == 0 && recordedFor(e, 3) && e->get_media_time(e, &us) == 0 && e->stop(e) == 0);
    QCOMPARE(e->set_audio_source(e, 0), 0u);
    /* Hardly bigger than the plain file: no room kept for an index. */
    const qint64 size = QFileInfo(path).size(), plain = plainRemuxSize(path, qPrintable(muxer));
    QVERIFY2(plain > 0 && size <= 1.1 * plain, qPrintable(QString("%1 bytes, plainly %2").arg(size).arg(plain)));
    /* Its stated duration is what plays and what the engine counted, within a frame. */
    const double frame = 1 / 30.0, media = us / 1e6;
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok && qAbs(v.duration - (v.last + frame)) <= frame + 0.001 && qAbs(v.duration - media) <= frame + 0.001,
             qPrintable(QString("states %1 s, plays to %2 s, recorded %3 s").arg(v.duration).arg(v.last).arg(media)));
    const double at = seekLandsAt(path, 1.5);
    QVERIFY2(qAbs(at - 1.5) <= frame, qPrintable(QString::number(at)));
}

void TestCaptureRecord::killedRecordingPlays_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<QString>("ext");
    QTest::newRow("mp4") << 0 << "mp4";
    QTest::newRow("mov") << 1 << "mov";
    QTest::newRow("mkv") << 2 << "mkv";
    QTest::newRow("flv") << 4 << "flv";
    QTest::newRow("ts") << 5 << "ts";
}

void TestCaptureRecord::killedRecordingPlays()
{
    QFETCH(int, container);
    QFETCH(QString, ext);
    QString path = dir.path() + "/killed." + ext;
    QProcess p;
    /* With a test tone: files of two streams, as with a microphone. */
    p.start(qEnvironmentVariable("CAPTURE_RECORD"),
            {"-o", path, "-c", QString::number(container), "-a", "2", "-d", "0"});
    QVERIFY(p.waitForReadyRead(10000) && p.readAllStandardOutput().contains("recording"));
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 0, 5000); /* written as it records */
    QTest::qWait(qMax<qint64>(0, 5000 - sinceStart.elapsed())); /* killed 5 s after start */
    p.kill(); /* SIGKILL: nothing gets finalised */
    QVERIFY(p.waitForFinished(5000));
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok && v.last >= 3.5, qPrintable(QString("plays to %1 s %2").arg(v.last).arg(v.error)));
    /* Where the file states a duration (header or last tag, as players show
     * it), the one it plays: not a placeholder such as 24 hours, nor the
     * first fragment's. */
    QVERIFY2(ext == "mkv" || ext == "ts" || (v.duration >= 3.5 && v.duration < v.last + 0.5),
             qPrintable(QString::number(v.duration)));
}

void TestCaptureRecord::fullDiskKeepsFile_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<int>("limitKb");
    QTest::newRow("mp4") << 0 << 1500;
    QTest::newRow("mkv") << 2 << 1500;
}

void TestCaptureRecord::fullDiskKeepsFile()
{
    QFETCH(int, container);
    QFETCH(int, limitKb);
    /* A file size limit makes writes fail as on a full disk (bash counts
     * ulimit -f in KiB). */
    QString path = dir.path() + (container ? "/full.mkv" : "/full.mp4");
    QProcess p;
    p.start("/bin/bash", {"-c", QString("trap '' XFSZ; ulimit -f %1; exec \"%2\" -o \"%3\" -c %4 -s 1280x720 -d 30")
                                    .arg(limitKb).arg(qEnvironmentVariable("CAPTURE_RECORD"), path).arg(container)});
    QVERIFY(p.waitForFinished(40000));
    QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains("event 1") && (err.contains("File too large") || err.contains("write")),
             qPrintable(err.right(2000)));
    QCOMPARE(p.exitCode(), 0); /* no crash, no hang */
    QVERIFY(QFileInfo(path).size() <= qint64(limitKb) * 1024);
    Decoded v = decodeVideo(path);
    QVERIFY2((v.ok || v.frames > 30) && v.last >= 1.0, qPrintable(QString("plays to %1 s").arg(v.last)));
}

QTEST_GUILESS_MAIN(TestCaptureRecord)
#include "tst_capture_record.moc"
