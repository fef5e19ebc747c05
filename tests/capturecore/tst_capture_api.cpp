/* The engine as the camera's adapter drives it: start-up with defaults and a
 * preview window, the capability walk, and every kind of bad call. */
#include "capture_test_util.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TestCaptureApi : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }
    void adapterStartupAndPreview();
    void badInput();
    void unusableCamera();
    void audioQueriesAndAmplitude();
};

void TestCaptureApi::adapterStartupAndPreview()
{
    qputenv("COLORKEY", "00010203");
    XWindow w(400, 300, 0x000818);
    QVERIFY2(w.ok(), "needs an X display (run under xvfb-run)");
    EventLog log;
    RecorderEngine *e = startEngine(&log, w.win);
    QVERIFY(e);
    QCOMPARE(e->prepare(e), 0u);

    /* The walk the adapter makes: until 10, with the test pattern's sizes. */
    QStringList caps;
    REresult r = 0;
    RERawVideoSettings c;
    for (REuint32 i = 0; i < 100 && (r = e->get_camera_capabilities(e, i, &c)) == 0; i++)
        caps << QString("%1x%2@%3").arg(c.width).arg(c.height).arg(c.framesPerSecond);
    QCOMPARE(r, RE_NO_MORE_CAPABILITIES);
    for (const char *want : {"640x480@30", "1280x720@30", "1920x1080@30"})
        QVERIFY2(caps.contains(want), qPrintable(caps.join(' ')));

    RERawVideoSettings fmt;
    QCOMPARE(e->get_preview_buffer_format(e, &fmt), 0u);
    QCOMPARE(fmt.width, 640u); /* all-zero output settings: the engine's default */
    QCOMPARE(fmt.height, 480u);
    QCOMPARE(fmt.framesPerSecond, 30u);

    /* Colours seen in the window from column x0 on: the picture's bars, or
     * only the window's own background. */
    auto colours = [&w](int x0) {
        QSet<unsigned long> seen;
        XImage *img = XGetImage(w.dpy, w.win, 0, 0, 400, 300, AllPlanes, ZPixmap);
        for (int y = 10; img && y < 300; y += 37)
            for (int x = x0 + 5; x < 400; x += 13)
                seen.insert(XGetPixel(img, x, y) & 0xffffff);
        if (img)
            XDestroyImage(img);
        return seen.size();
    };
    /* The preview really is drawn into the window: colour bars, not one colour. */
    QTRY_VERIFY2_WITH_TIMEOUT(colours(0) > 4, "preview window shows no picture", 3000);

    /* Preview buffers on request, in the announced format. */
    QCOMPARE(log.previews.load(), 0);
    QCOMPARE(e->need_preview_buffer(e, 1), 0u);
    QTRY_VERIFY_WITH_TIMEOUT(log.previews.load() >= 5, 3000);
    QCOMPARE(log.previewWidth.load(), 640u);
    QCOMPARE(e->need_preview_buffer(e, 0), 0u);

    /* Hidden viewfinder while a recording goes on: the picture leaves the
     * window and comes back inside the new region, then the whole window
     * again once the region is all zero; the recording is unbroken. */
    QTemporaryDir dir;
    QString clip = dir.path() + "/hidden.mkv";
    QCOMPARE(e->set_container_format(e, 2), 0u);
    QCOMPARE(startAt(e, clip), 0u);
    QCOMPARE(e->disable_viewfinder(e, 1), 0u);
    QTRY_COMPARE_WITH_TIMEOUT(colours(0), 1, 2000);
    REtime us = 0;
    QCOMPARE(e->get_media_time(e, &us), 0u);
    QVERIFY(recordedFor(e, us / 1e6 + 0.5));
    QCOMPARE(colours(0), 1); /* no frame drawn while hidden */
    REVideoRect region = {20, 20, 200, 150}, whole = {0, 0, 0, 0};
    QCOMPARE(e->set_preview_region(e, &region), 0u);
    QCOMPARE(e->disable_viewfinder(e, 0), 0u);
    QTRY_VERIFY_WITH_TIMEOUT(colours(0) > 4, 2000);
    QCOMPARE(colours(240), 1); /* right of the region */
    QCOMPARE(e->set_preview_region(e, &whole), 0u);
    QTRY_VERIFY_WITH_TIMEOUT(colours(240) > 2, 2000);
    QCOMPARE(e->stop(e), 0u);
    Discovered d = discover(clip);
    Decoded v = decodeVideo(clip);
    QVERIFY2(d.ok && d.duration > 1.0, qPrintable(d.text));
    QVERIFY2(v.ok && v.maxGap < 0.1, qPrintable(QString("gap of %1 s").arg(v.maxGap)));

    /* Close and prepare again. */
    QCOMPARE(e->close(e), 0u);
    QCOMPARE(e->prepare(e), 0u);
    QCOMPARE(e->reset(e), 0u);
    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
    endEngine(e);
}

void TestCaptureApi::badInput()
{
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = recorder_engine_create();
    QVERIFY(e);
    /* Every slot of the table is filled. */
    for (int i = 0; i < 41; i++)
        QVERIFY2(reinterpret_cast<void *const *>(e)[i], qPrintable(QString("slot %1 is empty").arg(i)));

    /* Before init and prepare: refused, never a crash or a hang. */
    QCOMPARE(firstAccepted({e->prepare(e), e->start(e), e->take_snapshot(e), e->pause(e), e->resume(e),
                            e->stop(e)}), -1);
    QCOMPARE(e->init(e), 0u);
    QCOMPARE(e->register_event_handler(e, &log, EventLog::handler), 0u);
    QCOMPARE(e->set_camera_id(e, RE_CAMERA_ID_NONE), 0u);
    QVERIFY(e->start(e) != 0);

    /* Null pointers and a null table. */
    QCOMPARE(firstAccepted({e->get_camera_capabilities(e, 0, nullptr), e->set_camera_output_settings(e, nullptr),
                            e->set_preview_region(e, nullptr), e->get_preview_buffer_format(e, nullptr),
                            e->set_audio_encoder_settings(e, nullptr), e->set_video_encoder_settings(e, nullptr),
                            e->set_output_file_settings(e, nullptr), e->set_output_file_path(e, nullptr),
                            e->set_output_file_path(e, ""), e->set_snapshot_output_file(e, nullptr),
                            e->get_media_time(e, nullptr), e->get_max_amplitude(e, nullptr),
                            e->get_audio_supported_sample_rate(e, 0, nullptr), e->set_audio_source(nullptr, 0),
                            e->start(nullptr)}), -1);

    /* Absurd sizes and unknown codes. */
    RERawVideoSettings huge = {0, 100000, 100000, 30}, half = {0, 640, 0, 30};
    REVideoRect badRect = {0, 0, 0, 100};
    REVideoEncoderSettings badEnc = {5, 0, 0, 0, 0, {0}};
    REOutputFileSettings rot{};
    rot.rotation = 45;
    QCOMPARE(firstAccepted({e->set_camera_output_settings(e, &huge), e->set_camera_output_settings(e, &half),
                            e->set_preview_region(e, &badRect), e->add_video_effect(e, 5),
                            e->add_video_effect(e, 8), e->set_container_format(e, 6),
                            e->set_video_encoder_settings(e, &badEnc), e->set_audio_sample_rate(e, 12345),
                            e->set_audio_channel(e, 7), e->set_rtp_host(e, "127.0.0.1", 0),
                            e->set_rtp_host(e, "127.0.0.1", 70000), e->set_output_file_settings(e, &rot),
                            e->set_output_file_path(e, QByteArray(5000, 'a').constData())}), -1);
    QCOMPARE(e->set_rtp_host(e, nullptr, 0), 0u); /* streaming off */

    /* Unwritable and missing folders: the call fails and leaves no file. */
    QCOMPARE(e->prepare(e), 0u);
    QVERIFY(startAt(e, "/proc/capturecore-test.mp4") != 0);
    QVERIFY(!QFile::exists("/proc/capturecore-test.mp4"));
    QString missing = dir.path() + "/no/such/folder/clip.mp4";
    QVERIFY(startAt(e, missing) != 0);
    /* Split segments are opened only once frames flow, so start itself must
     * find out; /proc takes no new files even from root. */
    QCOMPARE(e->set_max_file_size_bytes(e, 300000), 0u);
    QCOMPARE(e->set_file_count(e, 3), 0u);
    QVERIFY(startAt(e, "/proc/capturecore-split.mp4") != 0);
    QCOMPARE(e->set_file_count(e, 0), 0u);
    QCOMPARE(e->set_max_file_size_bytes(e, 0), 0u);
    QVERIFY(e->take_snapshot(e) != 0);
    QVERIFY(!QFile::exists(missing));

    /* Wrong order while prepared, and the engine still works afterwards. */
    QCOMPARE(firstAccepted({e->stop(e), e->pause(e), e->resume(e)}), -1);
    QString ok = dir.path() + "/ok.mp4";
    QCOMPARE(startAt(e, ok), 0u);
    QVERIFY(e->resume(e) != 0); /* not paused */
    QVERIFY(e->reset(e) != 0);  /* not while recording */
    QVERIFY(recordedFor(e, 1));
    QCOMPARE(e->stop(e), 0u);
    QVERIFY(discover(ok).ok);
    QCOMPARE(log.count(RE_EVENT_ERROR), 0); /* failed calls are reported by their result only */
    endEngine(e);
}

void TestCaptureApi::unusableCamera()
{
    /* A camera node that does not exist: prepare and reset fail, the
     * capability walk still ends, and nothing else breaks. */
    int id = 63;
    while (id > 40 && QFile::exists(QString("/dev/video%1").arg(id)))
        id--;
    EventLog log;
    RecorderEngine *e = startEngine(&log);
    QVERIFY(e);
    QCOMPARE(e->set_camera_id(e, id), 0u);
    RERawVideoSettings c;
    QCOMPARE(firstAccepted({e->prepare(e), e->reset(e), e->start(e), e->take_snapshot(e)}), -1);
    QCOMPARE(e->get_camera_capabilities(e, 0, &c), RE_NO_MORE_CAPABILITIES);
    /* Back to "no camera": the pattern works again on the same engine. */
    QCOMPARE(e->set_camera_id(e, RE_CAMERA_ID_NONE), 0u);
    QCOMPARE(e->reset(e), 0u);

    /* A size or rate the source does not list (as after a change of camera):
     * its nearest capability, a complete walk, and recording works. */
    const RERawVideoSettings asked[] = {{0, 1000, 600, 25}, {0, 640, 480, 20}};
    const QString taken[] = {"800x600@30", "640x480@15"};
    for (int i = 0; i < 2; i++) {
        RERawVideoSettings want = asked[i], got;
        QCOMPARE(e->set_camera_output_settings(e, &want), 0u);
        QCOMPARE(e->reset(e), 0u);
        QCOMPARE(e->get_preview_buffer_format(e, &got), 0u);
        QCOMPARE(QString("%1x%2@%3").arg(got.width).arg(got.height).arg(got.framesPerSecond), taken[i]);
        REuint32 n = 0;
        while (n < 100 && e->get_camera_capabilities(e, n, &c) == 0)
            n++;
        QVERIFY(n > 0 && n < 100);
    }
    QTemporaryDir dir;
    QCOMPARE(startAt(e, dir.path() + "/nearest.mp4"), 0u);
    QVERIFY(recordedFor(e, 0.5));
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(decodeVideo(dir.path() + "/nearest.mp4").width, 640);
    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
    endEngine(e);
}

void TestCaptureApi::audioQueriesAndAmplitude()
{
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = startEngine(&log);
    QVERIFY(e);
    QVector<REuint32> rates, channels;
    REuint32 v = 0;
    for (REuint32 i = 0; e->get_audio_supported_sample_rate(e, i, &v) == 0 && i < 50; i++)
        rates.append(v);
    for (REuint32 i = 0; e->get_audio_supported_channel(e, i, &v) == 0 && i < 50; i++)
        channels.append(v);
    QVERIFY(rates.contains(44100) && rates.contains(48000));
    QCOMPARE(channels, (QVector<REuint32>{1, 2}));
    for (REuint32 r : rates)
        QCOMPARE(e->set_audio_sample_rate(e, r), 0u);

    /* A generated tone stands in for a microphone: loud, then silent when idle. */
    QCOMPARE(e->set_audio_source(e, 2), 0u);
    QCOMPARE(e->set_audio_sample_rate(e, 48000), 0u);
    QCOMPARE(e->set_audio_channel(e, 1), 0u);
    QCOMPARE(e->prepare(e), 0u);
    QString path = dir.path() + "/tone.mkv";
    QCOMPARE(e->set_container_format(e, 2), 0u);
    QCOMPARE(startAt(e, path), 0u);
    REuint32 amp = 0;
    /* Each read takes the loudest sample since the last one. */
    QVERIFY(QTest::qWaitFor([&] { return e->get_max_amplitude(e, &amp) == 0 && amp > 3000; }, 10000));
    QVERIFY(recordedFor(e, 1));
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(e->get_max_amplitude(e, &amp), 0u);
    QCOMPARE(e->get_max_amplitude(e, &amp), 0u);
    QCOMPARE(amp, 0u);
    Discovered d = discover(path);
    QVERIFY(d.ok);
    QCOMPARE(d.audioStreams, 1);
    endEngine(e);
}

QTEST_GUILESS_MAIN(TestCaptureApi)
#include "tst_capture_api.moc"
