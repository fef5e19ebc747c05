/*
 * Playback as the player drives it: feature probe, play to the end with its
 * events, replay, stop, every container, seeks and trick rates.
 */
#include "engine_test_util.h"
#include "picture_turn.h"

#include <QProcess>

class TestPlayback : public QObject {
    Q_OBJECT
private slots:
    void featureProbeIsHonest();
    void brokenGlFallsBackToAnotherSink();
    void playToEndAndReplay();
    void everyContainerPlaysAndSeeks_data();
    void everyContainerPlaysAndSeeks();
    void rateSetWhilePaused_data();
    void rateSetWhilePaused();
    void rotationShowsAtOnce_data();
    void rotationShowsAtOnce();
};

/* Whether the sink prerolls a test frame here (retried: X sometimes refuses). */
static bool sinkPrerolls(const char* sink)
{
    gst_init(nullptr, nullptr);
    for (int attempt = 0; attempt < 3; attempt++) {
        GstElement* p = gst_parse_launch(
            QByteArray("videotestsrc num-buffers=1 ! ").append(sink).constData(), nullptr);
        if (!p)
            return false;
        gst_element_set_state(p, GST_STATE_PAUSED);
        GstState cur = GST_STATE_NULL;
        bool ok = gst_element_get_state(p, &cur, nullptr, 5 * GST_SECOND) != GST_STATE_CHANGE_FAILURE
                  && cur == GST_STATE_PAUSED;
        gst_element_set_state(p, GST_STATE_NULL);
        gst_object_unref(p);
        if (ok)
            return true;
        QThread::msleep(100);
    }
    return false;
}

/* Media time over wall time across ms, divided by rate: 1 when playing at the rate. */
static double relativeSpeed(PlayEngine* e, double rate, int ms)
{
    QElapsedTimer wall = startedTimer();
    gint64 p1 = enginePosition(e);
    QThread::msleep(ms);
    return (enginePosition(e) - p1) / 1e6 / wall.elapsed() / rate;
}

void TestPlayback::featureProbeIsHonest()
{
    // Asked before any engine exists (the library initialises GStreamer).
    gint overlay = play_engine_checkfeature(0), gl = play_engine_checkfeature(1);
    // The answers match what the sinks really do; Xvfb has no Xv adaptor.
    QCOMPARE(!!overlay, sinkPrerolls("xvimagesink"));
    if (qEnvironmentVariableIsSet("DISPLAY"))
        QCOMPARE(overlay, 0);
    QCOMPARE(!!gl, sinkPrerolls("glimagesink"));
}

// A display with GLX whose GL driver cannot be loaded: the GL sink is
// offered, fails to start, and the file still plays through another sink
// with no error for the caller. GL is loaded once per process, so the case
// runs in a child of this test with the driver hidden.
void TestPlayback::brokenGlFallsBackToAnotherSink()
{
    if (!qEnvironmentVariableIsSet("KORIN_BROKEN_GL")) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KORIN_BROKEN_GL", "1");
        env.insert("LIBGL_DRIVERS_PATH", "/nonexistent");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"brokenGlFallsBackToAnotherSink"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        return;
    }
    QVERIFY(play_engine_checkfeature(1));
    XWindow window;
    QVERIFY2(window.ok(), "no X display (run under xvfb-run)");
    // A second engine asking for GL by name after the failure plays too.
    for (int round = 0; round < 2; round++) {
        EventLog log;
        Engine e(&log);
        OK(ENG(e, set_video_sink, "glimagesink"));
        OK(ENG(e, set_window, window.id()));
        QVERIFY(load(e, "clip.mp4"));
        OK(ENG(e, play));
        QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
        QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
        QCOMPARE(play_engine_checkfeature(1), 0);
    }
}

void TestPlayback::playToEndAndReplay()
{
    XWindow window;
    QVERIFY2(window.ok(), "no X display (run under xvfb-run)");
    EventLog log;
    Engine e(&log);
    OK(ENG(e, set_window, window.id()));
    QVERIFY(load(e, "clip.mp4"));
    OK(ENG(e, play));
    int eos = log.waitFor(EVENT_ID_EOS, 10000);
    QVERIFY2(eos >= 0, "no EOS within 10 s of playing a 4 s clip");
    QVERIFY(log.snapshot()[eos].thread != QThread::currentThreadId());
    // Play after EOS starts again from 0 and reaches the end again.
    OK(ENG(e, play));
    gint64 pos = enginePosition(e);
    QVERIFY2(pos >= 0 && pos < 2 * kSecond, qPrintable(secs(pos)));
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 10000, eos + 1) > eos, "second run did not reach EOS");
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
    QCOMPARE(log.countOf(EVENT_ID_EOS), 2);
}

void TestPlayback::everyContainerPlaysAndSeeks_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("seeks");
    for (const char* f : {"clip.mp4", "clip.mov", "clip.mkv"})
        QTest::newRow(f) << QByteArray(f) << true;
    for (const char* f : {"clip.avi", "clip.flv", "clip.ts"})
        QTest::newRow(f) << QByteArray(f) << false;
}

void TestPlayback::everyContainerPlaysAndSeeks()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, seeks);
    EventLog log;
    Engine e(&log);
    QVERIFY(load(e, file));
    gint64 dur = engineGet<gint64>(e, e->get_duration, -1);
    QVERIFY2(qAbs(dur - 4 * kSecond) < kSecond / 4, qPrintable(secs(dur)));
    korin_metadata m;
    OK(ENG(e, get_metadata, &m));
    QCOMPARE(m.video_info[0].width, 320);
    QVERIFY(m.container[0] && m.n_audio == 1);

    if (seeks) {
        // Accurate: within a frame of the target.
        for (gint64 t : {2520 * kMs, 700 * kMs, 3080 * kMs}) {
            OK(ENG(e, seek, (guint64)t, TRUE));
            QCOMPARE(engineState(e), GST_STATE_PAUSED);
            QVERIFY2(qAbs(enginePosition(e) - t) <= kFrame, qPrintable(secs(t) + " -> " + secs(enginePosition(e))));
        }
        OK(ENG(e, seek, 0, TRUE));
    }
    OK(ENG(e, play));
    QVERIFY2(waitForPositionAbove(e, kSecond / 2, 5000) > 0, "position does not advance");
    OK(ENG(e, stop));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestPlayback::rateSetWhilePaused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<gint64>("start");
    QTest::addColumn<double>("rate");
    QTest::newRow("reverse to the start") << QByteArray("clip.mp4") << 3500 * kMs << -1.0;
    QTest::newRow("4x to the end") << QByteArray("clip.ts") << gint64(0) << 4.0;
}

void TestPlayback::rateSetWhilePaused()
{
    QFETCH(QByteArray, file);
    QFETCH(gint64, start);
    QFETCH(double, rate);
    EventLog log;
    Engine e(&log);
    QVERIFY(load(e, file));
    OK(ENG(e, seek, (guint64)start, TRUE));
    OK(ENG(e, set_play_rate, rate));
    OK(ENG(e, play));
    QThread::msleep(200);
    // Media time moves at about the rate, in its direction (an emulated board
    // decodes slower than real time: there it only has to move that way).
    double speed = relativeSpeed(e, rate, 500);
    const double slowest = qEnvironmentVariableIsSet("KORIN_TEST_EMULATED") ? 0.1 : 0.75;
    QVERIFY2(speed > slowest && speed < 1.3, qPrintable(QString::number(speed)));
    // Reaching either end of the clip ends playback (the 4 s clip at 4x in a second).
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 6000) >= 0, "no EOS");
    OK(ENG(e, stop));
    QCOMPARE(engineRate(e), 1.0);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

/* What the window shows now. */
static QImage windowImage(const XWindow& w)
{
    XWindowAttributes a;
    XGetWindowAttributes(w.dpy, w.win, &a);
    XImage* xi = XGetImage(w.dpy, w.win, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!xi)
        return QImage();
    QImage img = QImage((const uchar*)xi->data, xi->width, xi->height, xi->bytes_per_line,
                        QImage::Format_RGB32).copy();
    xi->f.destroy_image(xi);
    return img;
}

void TestPlayback::rotationShowsAtOnce_data()
{
    QTest::addColumn<QByteArray>("sink");
    QTest::newRow("GL") << QByteArray("glimagesink");
    QTest::newRow("X11") << QByteArray("ximagesink");
}

// Every turn shows at once, playing or paused, and the pipeline never drops
// to READY (a subtitle poller would take that for the end of playback).
void TestPlayback::rotationShowsAtOnce()
{
    QFETCH(QByteArray, sink);
    XWindow window(400, 400);
    QVERIFY(window.ok());
    EventLog log;
    Engine e(&log, sink);
    OK(ENG(e, set_window, window.id()));
    QVERIFY(load(e, "oddwidth.mp4"));
    OK(ENG(e, set_play_rate, 0.5)); // 4 s of playing for the first turns
    OK(ENG(e, play));
    QVERIFY(waitUntil([&] { return pictureTurn(windowImage(window)) == 0; }, 3000));
    const int from = log.count();
    for (int degree : {90, 180, 270, -1, 0, 90}) {
        if (degree < 0) {
            OK(ENG(e, pause));
            continue;
        }
        OK(ENG(e, set_rotate, degree));
        QVERIFY2(waitUntil([&] { return pictureTurn(windowImage(window)) == degree; }, 1500),
                 qPrintable(QStringLiteral("turned %1, shows %2").arg(degree).arg(pictureTurn(windowImage(window)))));
    }
    for (const RecordedEvent& ev : log.snapshot().mid(from))
        QVERIFY(ev.type != EVENT_ID_ERROR && (ev.type != EVENT_ID_STATE_CHANGE || ev.st.new_st > GST_STATE_READY));
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
