/* Recordings end to end: written by the engine, then played back by
 * gst-discoverer-1.0 and a full decode. */
#include "capture_test_util.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

const char *const kExt[] = {"mp4", "mov", "mkv", "avi", "flv", "ts"};

/* Records for ms and stops; returns the engine's media time in seconds. */
double recordClip(RecorderEngine *e, const QString &path, int ms)
{
    REOutputFileSettings o{};
    if (e->set_output_file_settings(e, &o) || startAt(e, path))
        return -1;
    QThread::msleep(ms);
    REtime us = 0;
    if (e->get_media_time(e, &us) || e->stop(e))
        return -1;
    return us / 1e6;
}

} // namespace

class TestCaptureRecord : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = nullptr;
    int camFps = 0;

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        e = startEngine(&log);
        QVERIFY(e);
        QCOMPARE(e->prepare(e), 0u);
    }
    void cleanupTestCase() { endEngine(e); }
    void containersAndEncoders_data();
    void containersAndEncoders();
    void pauseLeavesNoGap();
    void secondStartLeavesRecordingAlone();
    void rtpToLocalReceiver();
    void concurrentStops();
};

void TestCaptureRecord::containersAndEncoders_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<int>("encoder");
    QTest::addColumn<bool>("muxable");
    QTest::addColumn<int>("cameraFps");   /* 0: the engine's default (30) */
    QTest::addColumn<double>("fileFps"); /* frame rate the file must have */
    auto row = [](const QString &name, int c, int enc, bool muxable, int camera = 0, double file = 30) {
        QTest::newRow(qPrintable(name)) << c << enc << muxable << camera << file;
    };
    /* The camera's all-zero defaults must give H.264 in MP4. */
    row("defaults", 0, 0, true);
    for (int c = 1; c <= 5; c++)
        row(QString("H.264 in %1").arg(kExt[c]), c, 1, true);
    row("MPEG-4 in mp4", 0, 2, true);
    row("MPEG-4 in ts", 5, 2, true);
    row("H.263 in mov", 1, 3, true);
    row("H.263 in avi", 3, 3, true);
    row("MPEG-2 in mkv", 2, 4, true);
    /* MPEG-2 knows no 15 fps: the nearest rate it has, 23.976. */
    row("MPEG-2 at 15 fps in ts", 5, 4, true, 15, 24000.0 / 1001);
    row("H.263 in mp4", 0, 3, false);
    row("MPEG-2 in mp4", 0, 4, false);
    row("MPEG-2 in mov", 1, 4, false);
}

void TestCaptureRecord::containersAndEncoders()
{
    QFETCH(int, container);
    QFETCH(int, encoder);
    QFETCH(bool, muxable);
    QFETCH(int, cameraFps);
    QFETCH(double, fileFps);
    if (cameraFps != camFps) {
        RERawVideoSettings out = {0, cameraFps ? 640u : 0u, cameraFps ? 480u : 0u, REuint32(cameraFps)};
        QCOMPARE(e->set_camera_output_settings(e, &out), 0u);
        camFps = cameraFps;
        QCOMPARE(e->reset(e), 0u);
    }
    QString path = QString("%1/c%2_e%3.%4").arg(dir.path()).arg(container).arg(encoder).arg(kExt[container]);
    REVideoEncoderSettings venc = {REuint32(encoder), 0, 0, 0, 0, {0}};
    QCOMPARE(e->set_video_encoder_settings(e, &venc), 0u);
    QCOMPARE(e->set_container_format(e, container), 0u);
    if (!muxable) {
        QVERIFY(startAt(e, path) != 0);
        QVERIFY(!QFileInfo::exists(path));
        return;
    }
    double media = recordClip(e, path, 2000);
    QVERIFY(media > 1.5 && media < 2.6);
    /* stop returned, so the file is final: it plays at once. */
    Discovered d = discover(path);
    QVERIFY2(d.ok, qPrintable(d.text));
    QVERIFY(container != 0 || d.container.contains("Quicktime") || d.container.contains("ISO"));
    QVERIFY(encoder > 1 || d.text.contains("H.264"));
    QVERIFY2(qAbs(d.duration - media) <= 0.1 * media,
             qPrintable(QString("duration %1 vs media time %2").arg(d.duration).arg(media)));
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok, qPrintable(v.error));
    if (encoder == 3) {
        /* H.263 only takes fixed sizes: 640x480 becomes CIF. */
        QCOMPARE(v.width, 352);
        QCOMPARE(v.height, 288);
    } else {
        QCOMPARE(v.width, 640);
    }
    QVERIFY2(qAbs(v.frames - media * fileFps) < 10, qPrintable(QString("%1 frames").arg(v.frames)));
    QCOMPARE(log.count(RE_EVENT_ERROR), 0);
}

void TestCaptureRecord::pauseLeavesNoGap()
{
    REVideoEncoderSettings venc = {0, 0, 0, 0, 0, {0}};
    QCOMPARE(e->set_video_encoder_settings(e, &venc), 0u);
    QCOMPARE(e->set_container_format(e, 0), 0u);
    QString path = dir.path() + "/paused.mp4";
    QCOMPARE(startAt(e, path), 0u);
    QThread::msleep(1500);
    QCOMPARE(e->pause(e), 0u);
    QVERIFY(e->pause(e) != 0);
    REtime atPause = 0, later = 0;
    QCOMPARE(e->get_media_time(e, &atPause), 0u);
    QThread::msleep(2000);
    QCOMPARE(e->get_media_time(e, &later), 0u);
    QVERIFY(later - atPause < 100000); /* the clock stands still while paused */
    QCOMPARE(e->resume(e), 0u);
    QThread::msleep(1500);
    REtime media = 0;
    QCOMPARE(e->get_media_time(e, &media), 0u);
    QCOMPARE(e->stop(e), 0u);
    double m = media / 1e6;
    QVERIFY2(m > 2.7 && m < 3.4, qPrintable(QString("media time %1").arg(m)));
    Discovered d = discover(path);
    QVERIFY(d.ok);
    QVERIFY2(qAbs(d.duration - m) <= 0.1 * m, qPrintable(QString("duration %1").arg(d.duration)));
    /* No gap and no run of repeated frames: one frame every 1/30 s throughout. */
    Decoded v = decodeVideo(path);
    QVERIFY(v.ok);
    QVERIFY2(v.maxGap < 0.1, qPrintable(QString("gap of %1 s").arg(v.maxGap)));
    QVERIFY2(qAbs(v.frames - m * 30) < 10, qPrintable(QString("%1 frames").arg(v.frames)));
}

void TestCaptureRecord::secondStartLeavesRecordingAlone()
{
    /* A file count without a size limit limits nothing either. */
    QCOMPARE(e->set_file_count(e, 1), 0u);
    log.clear();
    QString first = dir.path() + "/first.mp4", second = dir.path() + "/second.mp4";
    QCOMPARE(startAt(e, first), 0u);
    QThread::msleep(1000);
    QVERIFY(startAt(e, second) != 0);
    QCOMPARE(e->pause(e), 0u);
    QVERIFY(e->start(e) != 0);
    QCOMPARE(e->resume(e), 0u);
    QThread::msleep(1000);
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(e->set_file_count(e, 0), 0u);
    QVERIFY(!QFileInfo::exists(second));
    QCOMPARE(log.count(RE_EVENT_MAX_FILESIZE) + log.count(RE_EVENT_MAX_DURATION) + log.count(RE_EVENT_ERROR), 0);
    Discovered d = discover(first);
    QVERIFY(d.ok);
    QVERIFY(d.duration > 1.7);
    QVERIFY(e->stop(e) != 0); /* nothing left to stop */
}

void TestCaptureRecord::rtpToLocalReceiver()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    QCOMPARE(getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    int port = ntohs(addr.sin_port);

    QString path = dir.path() + "/not-written.mp4";
    QCOMPARE(e->set_rtp_host(e, "127.0.0.1", port), 0u);
    QCOMPARE(startAt(e, path), 0u);
    int packets = 0, mp2t = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 2500) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        unsigned char buf[2048];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 12)
            continue;
        packets++;
        /* RTP version 2, payload type 33 (MPEG-TS), TS sync bytes after the header. */
        if ((buf[0] >> 6) == 2 && (buf[1] & 0x7f) == 33 && buf[12] == 0x47)
            mp2t++;
    }
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(e->set_rtp_host(e, nullptr, 0), 0u);
    ::close(fd);
    QVERIFY2(packets > 20, qPrintable(QString("%1 packets").arg(packets)));
    QCOMPARE(mp2t, packets);
    QVERIFY(!QFileInfo::exists(path));
}

void TestCaptureRecord::concurrentStops()
{
    /* As the adapter does: stop from the event callback, while another
     * thread stops too and the media time is read all the while. */
    std::atomic<int> callbackStops{0};
    log.onEvent = [&](REuint32 ev) {
        if (ev != RE_EVENT_MAX_DURATION)
            return;
        std::thread other([&] { e->stop(e); });
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
        QElapsedTimer t;
        t.start();
        if (round == 0) {
            QVERIFY(log.waitFor(RE_EVENT_MAX_DURATION, 5000));
            QTRY_COMPARE_WITH_TIMEOUT(callbackStops.load(), 1, 5000);
            /* The media time stops at the limit, and only the duration limit fired. */
            REtime us = 0;
            QCOMPARE(e->get_media_time(e, &us), 0u);
            QVERIFY2(us <= 1000000 && us > 900000, qPrintable(QString::number(us)));
            QCOMPARE(log.count(RE_EVENT_MAX_FILESIZE), 0);
        } else {
            QThread::msleep(990);
            std::thread stopper([&] { e->stop(e); });
            stopper.join();
        }
        QVERIFY(t.elapsed() < 8000);
        Discovered d = discover(path);
        QVERIFY2(d.ok, qPrintable(d.text));
        QVERIFY2(d.duration > 0.8 && d.duration < 1.15, qPrintable(QString::number(d.duration)));
    }
    done = true;
    reader.join();
    QCOMPARE(e->set_max_file_duration(e, 0), 0u);
    QTest::qWait(200);
    log.onEvent = nullptr;
    /* The engine takes a new recording afterwards. */
    QString after = dir.path() + "/after.mkv";
    QVERIFY(recordClip(e, after, 800) > 0.5);
    QVERIFY(discover(after).ok);
    QCOMPARE(e->set_container_format(e, 0), 0u);
}

QTEST_GUILESS_MAIN(TestCaptureRecord)
#include "tst_capture_record.moc"
