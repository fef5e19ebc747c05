/* What must not break the engine: files that cannot play, sinks that do not
 * exist here, destroy while playing. */
#include "engine_test_util.h"

#include <unistd.h>

class TestRobustness : public QObject {
    Q_OBJECT
private slots:
    void badFileFailsThenGoodPlays_data();
    void badFileFailsThenGoodPlays();
    void thumbnailerOnBadFiles();
    void fallbackSinks();
    void destroyWhilePlaying();
};

void TestRobustness::badFileFailsThenGoodPlays_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<bool>("viaPlay"); // the player may play a playlist item directly
    QTest::newRow("zero bytes") << mediaPath("bad-empty.mp4") << false;
    QTest::newRow("truncated mp4") << mediaPath("bad-truncated.mp4") << false;
    QTest::newRow("random bytes") << mediaPath("bad-random.mkv") << false;
    QTest::newRow("text named mp4") << mediaPath("bad-text.mp4") << false;
    QTest::newRow("missing file") << mediaPath("no-such-file.mp4") << false;
    QTest::newRow("folder") << QFileInfo(mediaPath("clip.mp4")).absolutePath().toUtf8() << false;
    QTest::newRow("play random bytes") << mediaPath("bad-random.mkv") << true;
    QTest::newRow("play missing file") << mediaPath("no-such-file.avi") << true;
    QTest::newRow("stalled stream") << QByteArray("fd://") << false; // a pipe nobody writes to
}

void TestRobustness::badFileFailsThenGoodPlays()
{
    QFETCH(QByteArray, location);
    QFETCH(bool, viaPlay);
    int fds[2] = {-1, -1};
    auto closePipe = qScopeGuard([&] { for (int fd : fds) if (fd >= 0) close(fd); });
    if (location == "fd://" && pipe(fds) == 0)
        location += QByteArray::number(fds[0]);
    EventLog log;
    Engine e(&log);
    ENG(e, set_file, location.constData());
    QElapsedTimer t = startedTimer();
    QVERIFY2((viaPlay ? ENG(e, play) : ENG(e, pause)) != PLAYENGINE_SUCCESS, "a bad file loaded");
    QVERIFY2(t.elapsed() < 10000, qPrintable(QStringLiteral("took %1 ms").arg(t.elapsed())));
    QVERIFY(engineState(e) == GST_STATE_NULL || engineState(e) == GST_STATE_READY);
    // One ERROR event, naming the file, however many elements complain.
    int idx = log.waitFor(EVENT_ID_ERROR, 3000);
    QVERIFY2(idx >= 0, "no ERROR event");
    const QByteArray message = log.snapshot()[idx].message;
    const QByteArray name = location.startsWith("fd://") ? location.mid(5)
                                                        : QFileInfo(location).fileName().toUtf8();
    QVERIFY2(message.startsWith(name + ": cannot be played (") && message.endsWith(")"), message);
    QCOMPARE(log.waitFor(EVENT_ID_ERROR, 500, idx + 1), -1);
    OK(ENG(e, stop));
    // The same engine plays the next good file without an error.
    int errors = log.countOf(EVENT_ID_ERROR);
    QVERIFY(load(e, "clip.mp4"));
    OK(ENG(e, play));
    QVERIFY(waitForPositionAbove(e, kSecond / 5, 5000) > 0);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), errors);
}

void TestRobustness::thumbnailerOnBadFiles()
{
    // The thumbnailer's engine (no handler) goes from bad to good files.
    Engine e(nullptr, "fakesink", true);
    for (const char* f : {"bad-empty.mp4", "bad-truncated.mp4", "colours.mp4", "bad-text.mp4", "colours.mp4"}) {
        bool good = f[0] != 'b';
        setFile(e, f);
        QVERIFY2((ENG(e, pause) == PLAYENGINE_SUCCESS) == good, f);
        korin_image_info info{};
        if (good) {
            OK(ENG(e, get_video_thumbnail, 1, &info));
            QVERIFY(info.image && info.width == 320 && info.size >= 320 * 3 * 240);
        }
        OK(ENG(e, stop));
    }
}

void TestRobustness::fallbackSinks()
{
    XWindow window;
    QVERIFY(window.ok());
    // The player's platform sinks do not exist here: a fresh engine falls back and plays.
    for (const char* sink : {"overlaysink", "korinv4l2sink", "glimagesink", "ximagesink", "no-such-sink"}) {
        EventLog log;
        Engine e(&log, sink);
        OK(ENG(e, set_window, window.id()));
        OK(setFile(e, "clip.mp4"));
        QVERIFY2(ENG(e, pause) == PLAYENGINE_SUCCESS && ENG(e, play) == PLAYENGINE_SUCCESS, sink);
        QVERIFY2(waitForPositionAbove(e, kSecond / 4, 5000) > 0, sink);
        OK(ENG(e, set_render_rect, DisplayArea{10, 10, 160, 120}));
        OK(ENG(e, expose_video));
        OK(ENG(e, stop));
        QVERIFY2(log.countOf(EVENT_ID_ERROR) == 0, sink);
    }
}

void TestRobustness::destroyWhilePlaying()
{
    XWindow window;
    QVERIFY(window.ok());
    // Destroy with the engine's threads busy; no event arrives after it returns.
    for (int round = 0; round < 5; round++) {
        EventLog log;
        PlayEngine* e = play_engine_create();
        QVERIFY(e);
        ENG(e, reg_event_handler, &log, &EventLog::handler);
        if (round % 2)
            ENG(e, set_window, window.id());
        if (round == 3)
            ENG(e, set_text_sink, "appsink");
        setFile(e, round >= 2 ? "multi.mkv" : "clip.mp4");
        if (round < 4) // the last round destroys right after set_file
            OK(ENG(e, play));
        QThread::msleep(100 + 150 * round);
        play_engine_destroy(e);
        int after = log.count();
        QThread::msleep(200);
        QCOMPARE(log.count(), after);
    }
    // The player re-creates its engine at once: one destroyed before its
    // event thread has got going ends too (a hang here times the test out).
    for (int round = 0; round < 20; round++) {
        PlayEngine* e = play_engine_create();
        QVERIFY(e);
        play_engine_destroy(e);
    }
}

QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
