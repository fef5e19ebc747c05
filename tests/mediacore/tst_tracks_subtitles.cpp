/* Tracks of the two-audio MKV, and subtitle text through the "appsink" text
 * sink: subs.srt carries "Hello" at 0.5-1.5 s and "Two\nLines" at 3-4 s. */
#include "engine_test_util.h"

#include <array>

class TestTracksSubtitles : public QObject {
    Q_OBJECT
private slots:
    void switchTracks();
    void subtitleText();
};

struct TextSample {
    gint64 pos;
    QByteArray text;
    guint64 pts, dur;
};

static QString dump(const QVector<TextSample>& samples)
{
    QStringList l;
    for (const auto& s : samples)
        l << secs(s.pos) + ":'" + QString::fromUtf8(s.text).replace('\n', '|') + "'";
    return l.join(' ');
}

/* Polls the text every 50 ms while playing until the position passes untilPos. */
static QVector<TextSample> pollTexts(PlayEngine* e, gint64 untilPos)
{
    QVector<TextSample> out;
    QElapsedTimer t = startedTimer();
    while (t.elapsed() < 10000 && engineState(e) == GST_STATE_PLAYING) {
        char buf[512];
        memset(buf, 'x', sizeof(buf));
        guint64 pts = 0, dur = 0;
        gint64 before = enginePosition(e);
        PlayEngineResult r = ENG(e, get_subtitle_text, buf, (guint32)sizeof(buf), &pts, &dur);
        gint64 after = enginePosition(e);
        if (r != PLAYENGINE_SUCCESS || !memchr(buf, 0, sizeof(buf)))
            break;
        out.append({(before + after) / 2, QByteArray(buf), pts, dur});
        if (after > untilPos)
            return out;
        QThread::msleep(50);
    }
    QTest::qFail(qPrintable("polling stopped early: " + dump(out)), __FILE__, __LINE__);
    return out;
}

void TestTracksSubtitles::switchTracks()
{
    std::unique_ptr<EventLog> log(new EventLog); // given up with the engine on a deadlock
    Engine e(log.get());
    QVERIFY(load(e, "multi.mkv"));
    QCOMPARE(engineInt(e, e->get_audio_num), 2);
    QCOMPARE(engineInt(e, e->get_subtitle_num), 1);
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 0);

    // Switch audio while playing, at once pause and seek: all return (watchdog) and succeed.
    OK(ENG(e, play));
    QVERIFY(waitForPositionAbove(e, kSecond / 2, 5000) > 0);
    PlayEngine* raw = e;
    auto res = std::make_shared<std::array<std::atomic<int>, 4>>();
    for (auto& r : *res)
        r = 100;
    if (!returnsWithin(15000, [raw, res] {
            (*res)[0] = ENG(raw, select_audio, 1);
            (*res)[1] = ENG(raw, pause);
            (*res)[2] = ENG(raw, seek, (guint64)(1500 * kMs), TRUE);
            (*res)[3] = ENG(raw, play);
        })) {
        e.release();
        log.release();
        QFAIL(qPrintable(QStringLiteral("deadlock: select %1, pause %2, seek %3, play %4")
                             .arg((*res)[0]).arg((*res)[1]).arg((*res)[2]).arg((*res)[3])));
    }
    for (auto& r : *res)
        QCOMPARE((int)r, (int)PLAYENGINE_SUCCESS);
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 1);
    gint64 pos = enginePosition(e);
    QVERIFY2(pos >= 1500 * kMs - kFrame && pos < 3 * kSecond, qPrintable(secs(pos)));
    QVERIFY(waitForPositionAbove(e, pos + kSecond / 4, 3000) > 0);

    // A new file starts on its first track.
    QVERIFY(load(e, "multi.mkv"));
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 0);
    QCOMPARE(log->countOf(EVENT_ID_ERROR), 0);
}

void TestTracksSubtitles::subtitleText()
{
    EventLog log;
    Engine e(&log, "fakesink", true);
    // Beside the 5 s clip, lines that go on for 90 s.
    QTemporaryDir dir;
    const QString srt = dir.filePath("long.srt");
    QFile::copy(mediaPath("subs.srt"), srt);
    QFile f(srt);
    QVERIFY(f.open(QIODevice::Append));
    for (int s = 10; s < 90; s += 10)
        f.write(QStringLiteral("\n%1\n%2,000 --> %3,000\nLater\n").arg(s).arg(QTime(0, 0).addSecs(s).toString())
                    .arg(QTime(0, 0).addSecs(s + 5).toString()).toUtf8());
    f.close();
    OK(setFile(e, "subs.mp4"));
    OK(ENG(e, set_subtitle_uri, srt.toUtf8().constData())); // a plain path, as the player passes it
    OK(ENG(e, pause));
    OK(ENG(e, play));
    QVector<TextSample> samples = pollTexts(e, 1000 * kMs);

    // A buffer smaller than the text: cut, terminated, nothing written past it.
    char small[16];
    memset(small, '#', sizeof(small));
    guint64 pts, dur;
    OK(ENG(e, get_subtitle_text, small, 4u, &pts, &dur));
    QVERIFY2(memchr(small, 0, 4) && QByteArray("Hello").startsWith(small), small);
    QCOMPARE(QByteArray(small + 4, 12), QByteArray(12, '#'));

    samples += pollTexts(e, 3900 * kMs);
    // The texts at known times (clear of edges) with their cue's pts/duration; none between.
    bool hello = false, twoLines = false;
    for (const auto& s : samples) {
        bool inHello = s.pos > 700 * kMs && s.pos < 1300 * kMs;
        bool inTwo = s.pos > 3200 * kMs && s.pos < 3800 * kMs;
        if (s.pos > 1800 * kMs && s.pos < 2700 * kMs)
            QVERIFY2(s.text.isEmpty(), qPrintable("text in the gap: " + dump(samples)));
        if (!inHello && !inTwo)
            continue;
        QVERIFY2(s.text == (inHello ? "Hello" : "Two\nLines"), qPrintable(dump(samples)));
        QVERIFY2(qAbs((gint64)s.pts - (inHello ? 500 : 3000) * kMs) <= 50 * kMs, qPrintable(secs(s.pts)));
        QVERIFY2(qAbs((gint64)s.dur - kSecond) <= 50 * kMs, qPrintable(secs(s.dur)));
        (inHello ? hello : twoLines) = true;
    }
    QVERIFY2(hello && twoLines, qPrintable("a cue was never polled: " + dump(samples)));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);

    // The video's end ends playback, not the last line's.
    QVERIFY2(log.waitFor(EVENT_ID_EOS, 4000) >= 0, "no EOS at the video's end");
    // After a stop the same file and subtitle play again from the start.
    OK(ENG(e, stop));
    OK(ENG(e, play));
    QVERIFY(dump(pollTexts(e, 1300 * kMs)).contains("'Hello'"));
}

QTEST_GUILESS_MAIN(TestTracksSubtitles)
#include "tst_tracks_subtitles.moc"
