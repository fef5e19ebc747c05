/*
 * Playback life cycle of the play engine as the player and the thumbnailer
 * drive it: feature probe, load, preroll, play to the end with events, stop
 * and replay, sinks, engines without a handler, destroy while playing.
 */
#include "engine_test_util.h"

#include <gst/gst.h>

class TestPlayback : public QObject {
    Q_OBJECT

private slots:
    void featureProbeBeforeAnyEngine();
    void playToEndWithEventsInOrder();
    void everyContainerLoads_data();
    void everyContainerLoads();
    void playStraightAfterSetFile();
    void stopKeepsFileAndResetsRate();
    void missingAndFallbackSinkNames();
    void engineWithoutEventHandler();
    void destroyWhilePlaying();
};

/* Whether sinkName reaches PAUSED with one test frame on this display. The
 * X server here now and then refuses a connection made right after another,
 * so a sink that fails is tried again before it counts as not working. */
static bool sinkPrerollsOnce(const char* sinkName);
static bool sinkPrerolls(const char* sinkName)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        if (sinkPrerollsOnce(sinkName))
            return true;
        QThread::msleep(100);
    }
    return false;
}

static bool sinkPrerollsOnce(const char* sinkName)
{
    gst_init(nullptr, nullptr);
    gchar* desc = g_strdup_printf("videotestsrc num-buffers=1 ! %s", sinkName);
    GstElement* p = gst_parse_launch(desc, nullptr);
    g_free(desc);
    if (!p)
        return false;
    gst_element_set_state(p, GST_STATE_PAUSED);
    GstState cur = GST_STATE_NULL;
    GstStateChangeReturn r = gst_element_get_state(p, &cur, nullptr, 5 * GST_SECOND);
    bool ok = r != GST_STATE_CHANGE_FAILURE && cur == GST_STATE_PAUSED;
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    return ok;
}

void TestPlayback::featureProbeBeforeAnyEngine()
{
    // The player asks both features before it creates its engine; the
    // library must initialise GStreamer itself for this.
    gint overlay = play_engine_checkfeature(0);
    gint gl = play_engine_checkfeature(1);
    // Asked again (and from another thread) the answer stays the same.
    gint overlayAgain = -1;
    QThread* t = QThread::create([&] { overlayAgain = play_engine_checkfeature(0); });
    t->start();
    QVERIFY(t->wait(20000));
    delete t;
    QCOMPARE(!!overlayAgain, !!overlay);
    QCOMPARE(!!play_engine_checkfeature(1), !!gl);

    // The answers must be honest for this display: compare with the sinks
    // themselves. Under Xvfb (no Xv adaptor) the overlay answer is no.
    bool xvWorks = sinkPrerolls("xvimagesink");
    QCOMPARE(!!overlay, xvWorks);
    if (qEnvironmentVariableIsSet("DISPLAY") && !xvWorks)
        QCOMPARE(overlay, 0);
    bool glWorks = sinkPrerolls("glimagesink");
    QCOMPARE(!!gl, glWorks);
}

void TestPlayback::playToEndWithEventsInOrder()
{
    REQUIRE_MEDIA("clip.mp4");
    XWindow window;
    QVERIFY2(window.ok(), "no X display (run under xvfb-run)");

    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    // A handler may call back into the engine (here get_state on every
    // state change) without deadlocking it.
    log.callBack = e.get();
    QCOMPARE(ENG(e, set_window, window.id()), PLAYENGINE_SUCCESS);

    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PAUSED);
    gint64 dur = engineDuration(e);
    QVERIFY2(qAbs(dur - 4 * kSecond) < kSecond / 4, qPrintable(QString::number(dur)));

    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);

    int eos = log.waitFor(EVENT_ID_EOS, 10000);
    QVERIFY2(eos >= 0, "no EOS event within 10 s of playing a 4 s clip");
    QThread::msleep(100);

    const QVector<RecordedEvent> evs = log.snapshot();
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
    QCOMPARE(log.countOf(EVENT_ID_EOS), 1);
    QCOMPARE(log.badStateData.load(), 0);

    // The pipeline's state changes form one chain NULL -> ... -> PLAYING,
    // each starting where the one before ended, and all come before EOS.
    QVector<RecordedEvent> changes;
    for (int i = 0; i < evs.size(); i++) {
        const RecordedEvent& ev = evs[i];
        QVERIFY2(ev.thread != QThread::currentThreadId(),
                 "an event was delivered on the caller's thread");
        if (ev.type == EVENT_ID_STATE_CHANGE) {
            QVERIFY2(i < eos, "state change after EOS while still playing");
            QVERIFY(ev.st.old_st != ev.st.new_st);
            changes.append(ev);
        }
    }
    QVERIFY2(changes.size() >= 3, qPrintable(QString::number(changes.size())));
    QCOMPARE(changes.first().st.old_st, GST_STATE_NULL);
    for (int i = 1; i < changes.size(); i++)
        QVERIFY2(changes[i].st.old_st == changes[i - 1].st.new_st,
                 qPrintable(QStringLiteral("change %1: %2->%3 after %4->%5")
                                .arg(i)
                                .arg(stateName(changes[i].st.old_st),
                                     stateName(changes[i].st.new_st),
                                     stateName(changes[i - 1].st.old_st),
                                     stateName(changes[i - 1].st.new_st))));
    QCOMPARE(changes.last().st.old_st, GST_STATE_PAUSED);
    QCOMPARE(changes.last().st.new_st, GST_STATE_PLAYING);
    bool sawReadyToPaused = false;
    for (const auto& c : changes)
        sawReadyToPaused |= c.st.old_st == GST_STATE_READY && c.st.new_st == GST_STATE_PAUSED;
    QVERIFY(sawReadyToPaused);
    QCOMPARE(log.callBacksDone.load(), changes.size());

    // After the end the player plays the same item again: from 0.
    log.callBack = nullptr;
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    QThread::msleep(300);
    gint64 pos = enginePosition(e);
    QVERIFY2(pos >= 0 && pos < 2 * kSecond, qPrintable(QString::number(pos)));
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 10000, eos + 1) > eos, "second run did not reach EOS");
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestPlayback::everyContainerLoads_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"clip.mp4", "clip.mov", "clip.mkv", "clip.avi", "clip.flv", "clip.ts"})
        QTest::newRow(f) << QString::fromUtf8(f);
}

void TestPlayback::everyContainerLoads()
{
    QFETCH(QString, file);
    QByteArray name = file.toUtf8();
    REQUIRE_MEDIA(name.constData());

    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath(name.constData()).constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PAUSED);

    gint64 dur = engineDuration(e);
    QVERIFY2(qAbs(dur - 4 * kSecond) < kSecond / 4, qPrintable(QString::number(dur)));
    gint n = -1;
    QCOMPARE(ENG(e, get_video_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    QCOMPARE(ENG(e, get_audio_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    QCOMPARE(ENG(e, get_subtitle_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    QCOMPARE(ENG(e, get_cur_video_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    gboolean seekable = FALSE;
    QCOMPARE(ENG(e, get_seekable, &seekable), PLAYENGINE_SUCCESS);
    QVERIFY(seekable);

    korin_metadata m;
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QVERIFY2(m.container[0] != 0, "container name is empty");
    QCOMPARE(m.n_video, 1);
    QCOMPARE(m.n_audio, 1);
    QCOMPARE(m.video_info[0].width, 320);
    QCOMPARE(m.video_info[0].height, 240);

    // It plays: the position moves on.
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY2(waitForPositionAbove(e, kSecond / 2, 5000) > 0, "position does not advance");
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    GstState s = engineState(e);
    QVERIFY2(s == GST_STATE_NULL || s == GST_STATE_READY, qPrintable(stateName(s)));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestPlayback::playStraightAfterSetFile()
{
    REQUIRE_MEDIA("clip.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    // Also as a URI rather than a path.
    QByteArray uri = "file://" + mediaPath("clip.mkv");
    QCOMPARE(ENG(e, set_file, uri.constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
    // Pause holds the position.
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PAUSED);
    gint64 p1 = enginePosition(e);
    QThread::msleep(400);
    gint64 p2 = enginePosition(e);
    QVERIFY2(qAbs(p2 - p1) < kFrame, qPrintable(QStringLiteral("%1 %2").arg(p1).arg(p2)));
    // And play goes on from there, not from 0.
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QThread::msleep(100);
    QVERIFY(enginePosition(e) >= p1 - kFrame);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestPlayback::stopKeepsFileAndResetsRate()
{
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, seek, (guint64)(2 * kSecond), TRUE), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_play_rate, 2.0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QThread::msleep(200);
    gdouble rate = 0;
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, 2.0);

    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    GstState s = engineState(e);
    QVERIFY2(s == GST_STATE_NULL || s == GST_STATE_READY, qPrintable(stateName(s)));
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, 1.0);
    // A second stop is harmless.
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    // The file is kept: play starts it again from 0 at normal speed.
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    QElapsedTimer wall;
    wall.start();
    QThread::msleep(150);
    gint64 p1 = enginePosition(e);
    QVERIFY2(p1 >= 0 && p1 < kSecond, qPrintable(QString::number(p1)));
    QThread::msleep(1000);
    gint64 p2 = enginePosition(e);
    // Normal speed: about one second of media per second, not two.
    QVERIFY2(p2 - p1 > kSecond / 2 && p2 - p1 < 3 * kSecond / 2,
             qPrintable(QStringLiteral("%1 -> %2").arg(p1).arg(p2)));
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, 1.0);

    // Stop then pause loads it again too (the player's preload after a stop).
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PAUSED);
    gint64 p3 = enginePosition(e);
    QVERIFY2(p3 >= 0 && p3 < kSecond / 2, qPrintable(QString::number(p3)));
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, stop_wait_state_change), PLAYENGINE_SUCCESS);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestPlayback::missingAndFallbackSinkNames()
{
    REQUIRE_MEDIA("clip.mp4");
    XWindow window;
    QVERIFY(window.ok());
    // The player's platform sink names do not exist here; the engine falls
    // back to a real sink and plays. Each name gets a fresh engine, as the
    // player re-creates its engine for a new sink.
    for (const char* sink : {"overlaysink", "korinv4l2sink", "glimagesink", "ximagesink",
                             "no-such-sink-at-all"}) {
        EventLog log;
        Engine e(&log);
        QVERIFY(e.get());
        QCOMPARE(ENG(e, set_video_sink, sink), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, set_window, window.id()), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
        QVERIFY2(ENG(e, pause) == PLAYENGINE_SUCCESS, sink);
        QVERIFY2(ENG(e, play) == PLAYENGINE_SUCCESS, sink);
        QVERIFY2(waitForPositionAbove(e, kSecond / 4, 5000) > 0, sink);
        // Render rectangle and expose as the player does on a resize.
        DisplayArea area{10, 10, 160, 120};
        QCOMPARE(ENG(e, set_render_rect, area), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, expose_video), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
        QVERIFY2(log.countOf(EVENT_ID_ERROR) == 0, sink);
    }
    // The thumbnailer's choice: appsink for text, fakesink for video.
    Engine e;
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_text_sink, "appsink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_video_sink, "fakesink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

void TestPlayback::engineWithoutEventHandler()
{
    REQUIRE_MEDIA("clip.mp4");
    REQUIRE_MEDIA("bad-random.mkv");
    {
        // Never registered.
        Engine e;
        QVERIFY(e.get());
        QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
        QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
        // Errors with nobody listening.
        QCOMPARE(ENG(e, set_file, mediaPath("bad-random.mkv").constData()), PLAYENGINE_SUCCESS);
        QVERIFY(ENG(e, pause) != PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
        // Plays to its end with nobody to tell.
        QVERIFY(waitForPositionAbove(e, 3 * kSecond, 8000) > 0);
        QThread::msleep(1200);
        QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    }
    {
        // Registered, then taken away again while events flow.
        EventLog log;
        Engine e(&log);
        QVERIFY(e.get());
        QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
        QVERIFY(waitUntil([&] { return log.count() > 0; }, 2000));
        QCOMPARE(ENG(e, reg_event_handler, nullptr, nullptr), PLAYENGINE_SUCCESS);
        QThread::msleep(50);
        int before = log.count();
        QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
        QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
        QThread::msleep(200);
        QCOMPARE(log.count(), before);
    }
}

void TestPlayback::destroyWhilePlaying()
{
    REQUIRE_MEDIA("clip.mp4");
    REQUIRE_MEDIA("multi.mkv");
    XWindow window;
    QVERIFY(window.ok());
    for (int round = 0; round < 4; round++) {
        EventLog log;
        PlayEngine* e = play_engine_create();
        QVERIFY(e);
        ENG(e, reg_event_handler, &log, &EventLog::handler);
        if (round % 2)
            ENG(e, set_window, window.id());
        if (round == 3)
            ENG(e, set_text_sink, "appsink");
        ENG(e, set_file, mediaPath(round >= 2 ? "multi.mkv" : "clip.mp4").constData());
        QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
        QThread::msleep(100 + 150 * round);
        // No stop: straight to destroy, with the bus and streaming threads
        // busy. No event may arrive once destroy has returned.
        play_engine_destroy(e);
        int after = log.count();
        QThread::msleep(200);
        QCOMPARE(log.count(), after);
    }
    // Destroy while a load is still in flight on another thread's call is
    // not a caller pattern; destroy right after set_file is.
    PlayEngine* e = play_engine_create();
    QVERIFY(e);
    ENG(e, set_file, mediaPath("clip.mp4").constData());
    play_engine_destroy(e);
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
