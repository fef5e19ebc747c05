/*
 * Files that cannot be played: pause fails within 10 s with an ERROR event
 * carrying GStreamer's message, and the engine stays usable. A recording cut
 * short still plays what it has.
 */
#include "engine_test_util.h"

class TestBadFiles : public QObject {
    Q_OBJECT

private slots:
    void pauseFailsCleanly_data();
    void pauseFailsCleanly();
    void playFailsCleanly();
    void cutRecordingPlaysWhatItHas();
    void thumbnailerOnBadFiles();
};

void TestBadFiles::pauseFailsCleanly_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::newRow("zero bytes") << mediaPath("bad-empty.mp4");
    QTest::newRow("truncated mp4") << mediaPath("bad-truncated.mp4");
    QTest::newRow("random bytes") << mediaPath("bad-random.mkv");
    QTest::newRow("text named mp4") << mediaPath("bad-text.mp4");
    QTest::newRow("missing file") << mediaPath("no-such-file.mp4");
    QTest::newRow("missing uri") << QByteArray("file:///nonexistent/dir/no-such-file.mkv");
    QTest::newRow("folder") << QDir(mediaDir()).absolutePath().toUtf8();
}

void TestBadFiles::pauseFailsCleanly()
{
    QFETCH(QByteArray, location);
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    ENG(e, set_file, location.constData());

    QElapsedTimer t;
    t.start();
    PlayEngineResult r = ENG(e, pause);
    qint64 took = t.elapsed();
    QVERIFY2(r != PLAYENGINE_SUCCESS, "pause succeeded on a file that cannot play");
    QVERIFY2(took < 10500, qPrintable(QStringLiteral("pause took %1 ms").arg(took)));
    GstState s = engineState(e);
    QVERIFY2(s != GST_STATE_PAUSED && s != GST_STATE_PLAYING, qPrintable(stateName(s)));

    // The error reaches the handler, with a message.
    int idx = log.waitFor(EVENT_ID_ERROR, 3000);
    QVERIFY2(idx >= 0, "no ERROR event");
    RecordedEvent ev = log.snapshot()[idx];
    QVERIFY2(!ev.messageNull && !ev.message.isEmpty(), "ERROR event without a message");
    QVERIFY(ev.thread != QThread::currentThreadId());

    // Asking about the failed file is harmless.
    gint64 d = 0;
    ENG(e, get_duration, &d);
    korin_metadata m;
    ENG(e, get_metadata, &m);
    korin_image_info info{};
    QVERIFY(ENG(e, get_video_thumbnail, 1, &info) != PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, stop_wait_state_change), PLAYENGINE_SUCCESS);

    // The same engine plays the next good file.
    log.clear();
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 5, 5000) > 0);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestBadFiles::playFailsCleanly()
{
    // The player may play an item directly (no preload) from the playlist.
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    for (const char* f : {"bad-random.mkv", "bad-text.mp4", "no-such-file.avi"}) {
        ENG(e, set_file, mediaPath(f).constData());
        QElapsedTimer t;
        t.start();
        QVERIFY2(ENG(e, play) != PLAYENGINE_SUCCESS, f);
        QVERIFY2(t.elapsed() < 10500, f);
        QVERIFY2(engineState(e) != GST_STATE_PLAYING, f);
    }
    QVERIFY(log.waitFor(EVENT_ID_ERROR, 3000) >= 0);
    // No handler left and engine destroyed with a failed file loaded: fine.
}

void TestBadFiles::cutRecordingPlaysWhatItHas()
{
    REQUIRE_MEDIA("cut.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("cut.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    // It plays past its first second and then ends (EOS or an error at the
    // cut), without hanging.
    QVERIFY(waitForPositionAbove(e, kSecond, 5000) > 0);
    bool ended = waitUntil([&] {
        return log.countOf(EVENT_ID_EOS) > 0 || log.countOf(EVENT_ID_ERROR) > 0;
    }, 8000);
    QVERIFY2(ended, "cut recording neither ended nor failed");
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

void TestBadFiles::thumbnailerOnBadFiles()
{
    REQUIRE_MEDIA("colours.mp4");
    // The thumbnailer's engine (no handler) goes from bad to good files.
    Engine e;
    QVERIFY(e.get());
    ENG(e, set_text_sink, "appsink");
    ENG(e, set_video_sink, "fakesink");
    for (const char* f : {"bad-empty.mp4", "bad-truncated.mp4", "colours.mp4", "bad-text.mp4",
                          "colours.mp4"}) {
        ENG(e, set_file, mediaPath(f).constData());
        bool good = QByteArray(f) == "colours.mp4";
        PlayEngineResult r = ENG(e, pause);
        if (!good) {
            QVERIFY2(r != PLAYENGINE_SUCCESS, f);
        } else {
            QVERIFY2(r == PLAYENGINE_SUCCESS, f);
            korin_image_info info{};
            QCOMPARE(ENG(e, get_video_thumbnail, 1, &info), PLAYENGINE_SUCCESS);
            QVERIFY(info.image != nullptr);
            QCOMPARE(info.width, 320);
        }
        QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    }
}

QTEST_GUILESS_MAIN(TestBadFiles)
#include "tst_badfiles.moc"
