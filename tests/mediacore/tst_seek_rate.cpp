/*
 * Seeking and trick rates: accurate seeks land on the frame asked for,
 * key-unit seeks on a key frame (the clips have one every second), seeks
 * keep the rate, reverse and fast rates move the position the right way.
 */
#include "engine_test_util.h"

class TestSeekRate : public QObject {
    Q_OBJECT

private slots:
    void seekInPaused_data();
    void seekInPaused();
    void seekWhilePlaying();
    void seekKeepsRate();
    void reversePlaysBackToStart();
    void rateChangeKeepsPosition();
    void fastForward();
    void seekPastTheEnd();
};

static QString ns(gint64 v)
{
    return QString::number(v / 1e9, 'f', 3) + QStringLiteral(" s");
}

void TestSeekRate::seekInPaused_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("mp4") << QStringLiteral("clip.mp4");
    QTest::newRow("mkv") << QStringLiteral("clip.mkv");
    QTest::newRow("mov") << QStringLiteral("clip.mov");
}

void TestSeekRate::seekInPaused()
{
    QFETCH(QString, file);
    QByteArray name = file.toUtf8();
    REQUIRE_MEDIA(name.constData());
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath(name.constData()).constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);

    // Accurate: the position is the one asked for, within a frame; positions
    // are nanoseconds both ways.
    for (gint64 target : {2 * kSecond + 520 * 1000000LL, 700 * 1000000LL, 3 * kSecond + 80 * 1000000LL}) {
        QCOMPARE(ENG(e, seek, (guint64)target, TRUE), PLAYENGINE_SUCCESS);
        QCOMPARE(engineState(e), GST_STATE_PAUSED);
        gint64 pos = enginePosition(e);
        QVERIFY2(qAbs(pos - target) <= kFrame,
                 qPrintable(QStringLiteral("accurate seek to %1 gave %2").arg(ns(target), ns(pos))));
    }

    // Key unit: lands on one of the key frames (0, 1, 2, 3 s), not between.
    for (gint64 target : {2 * kSecond + 480 * 1000000LL, 1 * kSecond + 560 * 1000000LL}) {
        QCOMPARE(ENG(e, seek, (guint64)target, FALSE), PLAYENGINE_SUCCESS);
        QCOMPARE(engineState(e), GST_STATE_PAUSED);
        gint64 pos = enginePosition(e);
        gint64 nearestKey = (pos + kSecond / 2) / kSecond * kSecond;
        QVERIFY2(qAbs(pos - nearestKey) <= kFrame / 2 && qAbs(pos - target) < kSecond + kFrame,
                 qPrintable(QStringLiteral("key-unit seek to %1 gave %2").arg(ns(target), ns(pos))));
    }
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestSeekRate::seekWhilePlaying()
{
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 5, 5000) > 0);
    QCOMPARE(ENG(e, seek, (guint64)(2 * kSecond), TRUE), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    gint64 p1 = enginePosition(e);
    QVERIFY2(p1 >= 2 * kSecond - kFrame && p1 < 2 * kSecond + kSecond / 2, qPrintable(ns(p1)));
    QThread::msleep(500);
    gint64 p2 = enginePosition(e);
    QVERIFY2(p2 > p1 + kSecond / 5 && p2 < p1 + kSecond, qPrintable(ns(p1) + " -> " + ns(p2)));
    // Backwards too.
    QCOMPARE(ENG(e, seek, (guint64)(kSecond / 2), TRUE), PLAYENGINE_SUCCESS);
    gint64 p3 = enginePosition(e);
    QVERIFY2(p3 >= kSecond / 2 - kFrame && p3 < kSecond, qPrintable(ns(p3)));
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestSeekRate::seekKeepsRate()
{
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_play_rate, 2.0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QThread::msleep(100);
    QCOMPARE(ENG(e, seek, (guint64)(kSecond / 2), TRUE), PLAYENGINE_SUCCESS);
    gdouble rate = 0;
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, 2.0);
    QElapsedTimer wall;
    QThread::msleep(100);
    wall.start();
    gint64 p1 = enginePosition(e);
    QThread::msleep(700);
    gint64 p2 = enginePosition(e);
    double media = (p2 - p1) / 1e6, real = wall.elapsed();
    // Twice as fast as real time; 1x would give about 0.7 s here.
    QVERIFY2(media > 1.5 * real && media < 2.6 * real,
             qPrintable(QStringLiteral("%1 ms of media in %2 ms").arg(media).arg(real)));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestSeekRate::reversePlaysBackToStart()
{
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, seek, (guint64)(3 * kSecond + kSecond / 2), TRUE), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_play_rate, -1.0), PLAYENGINE_SUCCESS);
    gdouble rate = 0;
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, -1.0);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    QThread::msleep(200);
    gint64 p1 = enginePosition(e);
    QVERIFY2(p1 > 2 * kSecond && p1 <= 3 * kSecond + kSecond / 2 + kFrame, qPrintable(ns(p1)));
    QThread::msleep(800);
    gint64 p2 = enginePosition(e);
    QVERIFY2(p2 < p1 - kSecond / 3, qPrintable(ns(p1) + " -> " + ns(p2)));
    QVERIFY2(p2 > p1 - 2 * kSecond, qPrintable(ns(p1) + " -> " + ns(p2)));
    // Reaching the start ends playback like reaching the end.
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 6000) >= 0, "no EOS at the start of the clip");
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_play_rate, &rate), PLAYENGINE_SUCCESS);
    QCOMPARE(rate, 1.0);
}

void TestSeekRate::rateChangeKeepsPosition()
{
    REQUIRE_MEDIA("clip.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    gint64 before = waitForPositionAbove(e, 2 * kSecond, 5000);
    QVERIFY(before > 0);
    // Reverse from the middle: goes back from where it was, not from the end.
    QCOMPARE(ENG(e, set_play_rate, -2.0), PLAYENGINE_SUCCESS);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);
    gint64 p1 = enginePosition(e);
    QVERIFY2(p1 <= before + kSecond / 2 && p1 > before - kSecond,
             qPrintable(ns(before) + " -> " + ns(p1)));
    QThread::msleep(400);
    gint64 p2 = enginePosition(e);
    QVERIFY2(p2 < p1, qPrintable(ns(p1) + " -> " + ns(p2)));
    // And forward again at 1x from there.
    QCOMPARE(ENG(e, set_play_rate, 1.0), PLAYENGINE_SUCCESS);
    gint64 p3 = enginePosition(e);
    QVERIFY2(qAbs(p3 - p2) < kSecond, qPrintable(ns(p2) + " -> " + ns(p3)));
    QThread::msleep(400);
    gint64 p4 = enginePosition(e);
    QVERIFY2(p4 > p3, qPrintable(ns(p3) + " -> " + ns(p4)));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestSeekRate::fastForward()
{
    REQUIRE_MEDIA("clip.ts");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.ts").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_play_rate, 4.0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QElapsedTimer wall;
    wall.start();
    gint64 p1 = enginePosition(e);
    QThread::msleep(500);
    gint64 p2 = enginePosition(e);
    qint64 real = wall.elapsed();
    QVERIFY2((p2 - p1) / 1e6 > 2.0 * real, qPrintable(ns(p1) + " -> " + ns(p2)));
    // The 4 s clip ends in about a second.
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 4000) >= 0, "no EOS at 4x");
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestSeekRate::seekPastTheEnd()
{
    REQUIRE_MEDIA("clip.mp4");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    // The step operations add ten seconds to the position without clamping.
    QElapsedTimer t;
    t.start();
    PlayEngineResult r = ENG(e, seek, (guint64)(14 * kSecond), TRUE);
    QVERIFY2(t.elapsed() < 11000, "seek past the end hangs");
    // Either refused, or the clip simply ends.
    if (r == PLAYENGINE_SUCCESS)
        QVERIFY2(log.waitFor(EVENT_ID_EOS, 5000) >= 0, "seek past the end: no EOS");
    // The engine is still usable.
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 5, 5000) > 0);
}

QTEST_GUILESS_MAIN(TestSeekRate)
#include "tst_seek_rate.moc"
