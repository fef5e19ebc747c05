/* The engine as the camera's adapter drives it: start-up with defaults and a
 * preview window, the capability walk, a camera mode the source lacks, every
 * kind of bad call; and snapshots, complete pictures of the chosen size with
 * the time stamp and the effects visible in them. */
#include "capture_test_util.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

/* Share of columns whose brightness changes down the region: the test
 * pattern's bars are vertical (and scroll sideways), so an untouched
 * picture scores near zero. */
double bentColumns(const QImage &img, QRect r)
{
    int bent = 0, n = 0;
    for (int x = r.left(); x <= r.right(); x += 2) {
        int lo = 255, hi = 0;
        for (int y = r.top(); y <= r.bottom(); y++) {
            int g = qGray(img.pixel(x, y));
            lo = qMin(lo, g);
            hi = qMax(hi, g);
        }
        bent += hi - lo > 20;
        n++;
    }
    return n ? double(bent) / n : 0;
}

/* Mean difference between a pixel and its mirror image across the middle. */
double asymmetry(const QImage &img, QRect r)
{
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); y += 2)
        for (int x = 0; x < img.width() / 2; x += 2) {
            sum += qAbs(qGray(img.pixel(x, y)) - qGray(img.pixel(img.width() - 1 - x, y)));
            n++;
        }
    return n ? sum / n : 0;
}

} // namespace


class TestCaptureApi : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    EventLog log; /* of the snapshot tests' engine */
    RecorderEngine *e = nullptr;

    QImage snap(const QString &name)
    {
        QString path = dir.path() + "/" + name;
        if (e->set_output_file_path(e, path.toUtf8().constData()) || e->take_snapshot(e))
            return QImage();
        return QImage(path);
    }

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }
    void cleanupTestCase() { endEngine(e); }
    void adapterStartupAndPreview();
    void badInput();
    void unusableCamera();
    void sizePathAndFormat();
    void timeStampIsBurnedIn();
    void effectsChangeThePicture_data();
    void effectsChangeThePicture();
};

void TestCaptureApi::adapterStartupAndPreview()
{
    qputenv("COLORKEY", "00010203");
    XWindow w(400, 300, 0x000818);
    QVERIFY2(w.ok(), "needs an X display (run under xvfb-run)");
    EventLog log;
    RecorderEngine *e = startEngine(&log, w.win);
    QVERIFY(e);
    QCOMPARE(e->set_audio_source(e, 2), 0u); /* a generated tone stands in for a microphone */
    QCOMPARE(e->prepare(e), 0u);

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
    QVERIFY(recordedFor(e, 1.5));
    QCOMPARE(e->stop(e), 0u);
    Decoded v = decodeVideo(clip);
    QVERIFY2(v.ok && v.duration > 1.0 && v.maxGap < 0.1, qPrintable(QString("gap of %1 s").arg(v.maxGap)));
    QFile mkv(clip);
    QVERIFY(mkv.open(QIODevice::ReadOnly) && mkv.readAll().contains("A_AAC")); /* the sound track */

    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
    endEngine(e);
}

void TestCaptureApi::badInput()
{
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = recorder_engine_create();
    QVERIFY(e);
    /* Before init and prepare: refused, never a crash or a hang. */
    QVERIFY(e->prepare(e) && e->start(e) && e->take_snapshot(e) && e->pause(e) && e->resume(e) && e->stop(e));
    QCOMPARE(e->init(e), 0u);
    QCOMPARE(e->register_event_handler(e, &log, EventLog::handler), 0u);
    QCOMPARE(e->set_camera_id(e, RE_CAMERA_ID_NONE), 0u);
    QVERIFY(e->start(e) != 0);

    /* Null pointers and a null table. */
    QVERIFY(e->get_camera_capabilities(e, 0, nullptr) && e->set_camera_output_settings(e, nullptr) &&
            e->set_preview_region(e, nullptr) && e->set_audio_encoder_settings(e, nullptr) &&
            e->set_video_encoder_settings(e, nullptr) && e->set_output_file_settings(e, nullptr) &&
            e->set_output_file_path(e, nullptr) && e->set_output_file_path(e, "") && e->get_media_time(e, nullptr) &&
            e->set_audio_source(nullptr, 0) && e->start(nullptr));

    /* Absurd sizes and unknown codes. */
    RERawVideoSettings huge = {0, 100000, 100000, 30}, half = {0, 640, 0, 30};
    REVideoRect badRect = {0, 0, 0, 100};
    REVideoEncoderSettings badEnc = {5, 0, 0, 0, 0, {0}};
    REOutputFileSettings rot{};
    rot.rotation = 45;
    QVERIFY(e->set_camera_output_settings(e, &huge) && e->set_camera_output_settings(e, &half) &&
            e->set_preview_region(e, &badRect) && e->add_video_effect(e, 5) && e->add_video_effect(e, 8) &&
            e->set_container_format(e, 6) && e->set_video_encoder_settings(e, &badEnc) &&
            e->set_audio_sample_rate(e, 12345) && e->set_audio_channel(e, 7) && e->set_rtp_host(e, "127.0.0.1", 0) &&
            e->set_rtp_host(e, "127.0.0.1", 70000) && e->set_output_file_settings(e, &rot) &&
            e->set_output_file_path(e, QByteArray(5000, 'a').constData()));
    QCOMPARE(e->set_rtp_host(e, nullptr, 0), 0u); /* streaming off */

    /* Unwritable and missing folders: the call fails and leaves no file. */
    QCOMPARE(e->prepare(e), 0u);
    QVERIFY(startAt(e, "/proc/capturecore-test.mp4") != 0);
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
    QVERIFY(e->stop(e) && e->pause(e) && e->resume(e));
    QString ok = dir.path() + "/ok.mp4";
    QCOMPARE(startAt(e, ok), 0u);
    QVERIFY(e->resume(e) != 0); /* not paused */
    QVERIFY(e->reset(e) != 0);  /* not while recording */
    QVERIFY(recordedFor(e, 1));
    QCOMPARE(e->stop(e), 0u);
    QVERIFY(decodeVideo(ok).ok);
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
    QVERIFY(e->prepare(e) && e->reset(e) && e->start(e) && e->take_snapshot(e));
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
    QCOMPARE(startAt(e, dir.path() + "/nearest.mp4"), 0u);
    QVERIFY(recordedFor(e, 0.5));
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(decodeVideo(dir.path() + "/nearest.mp4").width, 640);
    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
    endEngine(e);
}

void TestCaptureApi::sizePathAndFormat()
{
    e = startEngine(&log);
    QVERIFY(e);
    QCOMPARE(e->prepare(e), 0u);
    RERawVideoSettings hd = {0, 1280, 720, 30};
    QCOMPARE(e->set_camera_output_settings(e, &hd), 0u);
    QCOMPARE(e->reset(e), 0u);

    /* Complete on return: loads at once, at the capture size. */
    QCOMPARE(snap("a.jpg").size(), QSize(1280, 720));
    QFile f(dir.path() + "/a.jpg");
    QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().endsWith("\xff\xd9")); /* JPEG's end marker */

    /* With the viewfinder hidden (streaming without preview), snapshots go on. */
    QCOMPARE(e->disable_viewfinder(e, 1), 0u);
    QCOMPARE(snap("hidden.jpg").size(), QSize(1280, 720));
    QCOMPARE(e->disable_viewfinder(e, 0), 0u);

    /* A folder where nothing can be written: failure, and no leftovers. */
    QCOMPARE(e->set_output_file_path(e, "/proc/snap.jpg"), 0u);
    QVERIFY(e->take_snapshot(e) != 0);
    QVERIFY(QDir(dir.path()).entryList({"*.part*"}, QDir::Files).isEmpty());
    RERawVideoSettings def = {0, 0, 0, 0};
    QCOMPARE(e->set_camera_output_settings(e, &def), 0u);
    QCOMPARE(e->reset(e), 0u);
}

void TestCaptureApi::timeStampIsBurnedIn()
{
    /* The stamp sits top left, over the bars. */
    QRect corner(0, 2, 300, 40);
    QImage plain = snap("plain.jpg");
    QVERIFY(!plain.isNull());
    QCOMPARE(e->add_time_stamp(e, 1), 0u);
    QImage stamped = snap("stamped.jpg");
    QCOMPARE(e->add_time_stamp(e, 0), 0u);
    QImage after = snap("after.jpg");
    double p = bentColumns(plain, corner), s = bentColumns(stamped, corner), a = bentColumns(after, corner);
    QVERIFY2(p < 0.05 && a < 0.05 && s > 0.3, qPrintable(QString("plain %1 stamped %2 after %3").arg(p).arg(s).arg(a)));
    /* The rest of the picture is untouched by the stamp. */
    QVERIFY(bentColumns(stamped, QRect(0, 60, 640, 220)) < 0.05);
}

void TestCaptureApi::effectsChangeThePicture_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("Cube") << 1;
    QTest::newRow("Mirror") << 2;
    QTest::newRow("Squeeze") << 3;
    QTest::newRow("FishEye") << 4;
    QTest::newRow("Tunnel") << 6;
    QTest::newRow("Twirl") << 7;
}

void TestCaptureApi::effectsChangeThePicture()
{
    QFETCH(int, code);
    QRect bars(0, 0, 640, 300);
    QImage plain = snap("noeffect.jpg");
    QCOMPARE(e->add_video_effect(e, code), 0u);
    QCOMPARE(e->reset(e), 0u);
    QImage fx = snap(QString("effect%1.jpg").arg(code));
    QCOMPARE(e->add_video_effect(e, 0), 0u);
    QCOMPARE(fx.size(), QSize(640, 480));
    if (code == 2) {
        /* Mirror: one half reflects the other. */
        double p = asymmetry(plain, bars), f = asymmetry(fx, bars);
        QVERIFY2(f < p / 4, qPrintable(QString("asymmetry plain %1 mirrored %2").arg(p).arg(f)));
    } else {
        /* The others bend or move the vertical bars. */
        double p = bentColumns(plain, bars), f = bentColumns(fx, bars);
        QVERIFY2(p < 0.05 && f > 0.2, qPrintable(QString("bent columns plain %1 effect %2").arg(p).arg(f)));
    }
    QCOMPARE(e->reset(e), 0u);
}

QTEST_GUILESS_MAIN(TestCaptureApi)
#include "tst_capture_api.moc"
