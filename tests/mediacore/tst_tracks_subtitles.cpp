/*
 * Tracks and subtitle text: switching audio tracks and subtitles on the
 * two-audio MKV, and the text the player's polling thread reads through the
 * "appsink" text sink, from a .srt beside the clip and from the MKV's own
 * subtitle track. Both carry "Hello" at 0.5-1.5 s and "Two\nLines" at
 * 3.0-4.0 s, nothing in between.
 */
#include "engine_test_util.h"

#include <array>
#include <cstring>

class TestTracksSubtitles : public QObject {
    Q_OBJECT

private slots:
    void switchTracks();
    void switchThenPauseAndSeek();
    void externalSubtitleText();
    void internalSubtitleText();
    void subtitlesOff();
    void noSubtitlesGivesEmptyText();
};

struct TextSample {
    gint64 pos;
    QByteArray text;
    guint64 pts;
    guint64 dur;
};

/* Plays on and polls the text every 50 ms, as the player's thread does every
 * 100 ms, until the position passes untilPos. */
static bool pollTexts(PlayEngine* e, gint64 untilPos, QVector<TextSample>* out, QString* err)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        char buf[512];
        memset(buf, 'x', sizeof(buf));
        guint64 pts = 0, dur = 0;
        gint64 before = enginePosition(e);
        PlayEngineResult r = ENG(e, get_subtitle_text, buf, (guint32)sizeof(buf), &pts, &dur);
        gint64 after = enginePosition(e);
        if (r != PLAYENGINE_SUCCESS) {
            *err = QStringLiteral("get_subtitle_text failed (%1) at %2 ns").arg(r).arg(before);
            return false;
        }
        if (!memchr(buf, 0, sizeof(buf))) {
            *err = QStringLiteral("text not NUL-terminated");
            return false;
        }
        out->append({(before + after) / 2, QByteArray(buf), pts, dur});
        if (after > untilPos)
            return true;
        GstState s = engineState(e);
        if (s != GST_STATE_PLAYING) {
            *err = QStringLiteral("stopped playing at %1 ns (state %2)").arg(after).arg(stateName(s));
            return false;
        }
        QThread::msleep(50);
    }
    *err = QStringLiteral("position never passed %1 ns").arg(untilPos);
    return false;
}

static QString dump(const QVector<TextSample>& samples)
{
    QStringList l;
    for (const auto& s : samples)
        l << QStringLiteral("%1:'%2'").arg(s.pos / 1e9, 0, 'f', 2).arg(QString::fromUtf8(s.text).replace('\n', '|'));
    return l.join(' ');
}

/* The texts at known times, and nothing in the gap. */
static void checkTimeline(const QVector<TextSample>& samples)
{
    bool hello = false, twoLines = false;
    const gint64 ms = 1000000;
    for (const auto& s : samples) {
        // Keep clear of the edges: position and text come from different threads.
        if (s.pos > 700 * ms && s.pos < 1300 * ms) {
            QVERIFY2(s.text == "Hello", qPrintable(dump(samples)));
            hello = true;
            // pts and duration of the cue, in nanoseconds.
            QVERIFY2(qAbs((gint64)s.pts - 500 * ms) <= 50 * ms, qPrintable(QString::number(s.pts)));
            QVERIFY2(qAbs((gint64)s.dur - 1000 * ms) <= 50 * ms, qPrintable(QString::number(s.dur)));
        }
        if (s.pos > 1800 * ms && s.pos < 2700 * ms)
            QVERIFY2(s.text.isEmpty(), qPrintable("text in the gap: " + dump(samples)));
        if (s.pos > 3200 * ms && s.pos < 3800 * ms) {
            QVERIFY2(s.text == "Two\nLines", qPrintable(dump(samples)));
            twoLines = true;
            QVERIFY2(qAbs((gint64)s.pts - 3000 * ms) <= 50 * ms, qPrintable(QString::number(s.pts)));
            QVERIFY2(qAbs((gint64)s.dur - 1000 * ms) <= 50 * ms, qPrintable(QString::number(s.dur)));
        }
    }
    QVERIFY2(hello, qPrintable("no poll inside the first cue: " + dump(samples)));
    QVERIFY2(twoLines, qPrintable("no poll inside the second cue: " + dump(samples)));
}

/* A buffer smaller than the text: cut, terminated, nothing written past it. */
static void checkSmallBuffer(PlayEngine* e)
{
    char buf[16];
    memset(buf, '#', sizeof(buf));
    guint64 pts = 0, dur = 0;
    QCOMPARE(ENG(e, get_subtitle_text, buf, 4u, &pts, &dur), PLAYENGINE_SUCCESS);
    QVERIFY2(memchr(buf, 0, 4) != nullptr, "text not terminated within the size given");
    for (size_t i = 4; i < sizeof(buf); i++)
        QVERIFY2(buf[i] == '#', "wrote past the size given");
    QVERIFY2(QByteArray("Hello").startsWith(QByteArray(buf)), buf);
}

void TestTracksSubtitles::switchTracks()
{
    REQUIRE_MEDIA("multi.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("multi.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    gint n = -1;
    QCOMPARE(ENG(e, get_audio_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 2);
    QCOMPARE(ENG(e, get_video_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    QCOMPARE(ENG(e, get_subtitle_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);

    // Track numbers index the metadata arrays: the languages tell them apart.
    korin_metadata m;
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QCOMPARE(m.n_audio, 2);
    QCOMPARE(m.n_subtitle, 1);
    QVERIFY2(QByteArray(m.audio_info[0].language).startsWith("en"), m.audio_info[0].language);
    QVERIFY2(QByteArray(m.audio_info[1].language).startsWith("fr"), m.audio_info[1].language);
    QVERIFY2(QByteArray(m.subtitle_info[0].language).startsWith("de"), m.subtitle_info[0].language);

    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, select_audio, 1), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    gint64 p = enginePosition(e);
    QVERIFY(waitForPositionAbove(e, p + kSecond / 4, 3000) > 0);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);

    // Out of range: refused, the current track stays.
    QVERIFY(ENG(e, select_audio, 2) != PLAYENGINE_SUCCESS);
    QVERIFY(ENG(e, select_audio, -5) != PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);

    QCOMPARE(ENG(e, select_subtitle, 0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_subtitle_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    QCOMPARE(ENG(e, select_subtitle, -1), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_subtitle_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, -1);
    QCOMPARE(ENG(e, select_video, 0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_video_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);

    QCOMPARE(ENG(e, select_audio, 0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    QCOMPARE(engineState(e), GST_STATE_PLAYING);

    // A choice made paused holds when playing starts.
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, select_audio, 1), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);

    // A new set_file clears the choices.
    QCOMPARE(ENG(e, set_file, mediaPath("multi.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 0);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestTracksSubtitles::switchThenPauseAndSeek()
{
    REQUIRE_MEDIA("multi.mkv");
    // The user picks the other audio track and at once pauses and drags the
    // slider. Every step must come back; a deadlocked engine is given up
    // (neither it nor its event log is freed then).
    auto* log = new EventLog;
    Engine e(log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("multi.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 2, 5000) > 0);
    PlayEngine* raw = e.get();
    auto results = std::make_shared<std::array<std::atomic<int>, 4>>();
    for (auto& r : *results)
        r = 100;
    bool back = returnsWithin(15000, [raw, results] {
        (*results)[0] = ENG(raw, select_audio, 1);
        (*results)[1] = ENG(raw, pause);
        (*results)[2] = ENG(raw, seek, (guint64)(kSecond + kSecond / 2), TRUE);
        (*results)[3] = ENG(raw, play);
    });
    if (!back) {
        e.release();
        QFAIL(qPrintable(QStringLiteral("select_audio(1) while playing, then pause and seek: "
                                        "deadlocked (select %1, pause %2, seek %3, play %4)")
                             .arg((*results)[0]).arg((*results)[1]).arg((*results)[2])
                             .arg((*results)[3])));
    }
    for (auto& r : *results)
        QCOMPARE((int)r, (int)PLAYENGINE_SUCCESS);
    gint n = -1;
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 1);
    gint64 pos = enginePosition(e);
    QVERIFY2(pos >= kSecond + kSecond / 2 - kFrame && pos < 3 * kSecond, qPrintable(QString::number(pos)));
    QCOMPARE(log->countOf(EVENT_ID_ERROR), 0);
    e.reset();
    delete log;
}

void TestTracksSubtitles::externalSubtitleText()
{
    REQUIRE_MEDIA("subs.mp4");
    REQUIRE_MEDIA("subs.srt");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_text_sink, "appsink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_video_sink, "fakesink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_file, mediaPath("subs.mp4").constData()), PLAYENGINE_SUCCESS);
    // A plain path, no scheme, as the player passes it.
    QCOMPARE(ENG(e, set_subtitle_uri, mediaPath("subs.srt").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);

    QVector<TextSample> samples;
    QString err;
    bool ok = pollTexts(e, 1000 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err + " " + dump(samples)));
    checkSmallBuffer(e);
    ok = pollTexts(e, 3900 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err + " " + dump(samples)));
    checkTimeline(samples);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);

    // After a stop the same file and subtitle play again from the start.
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    samples.clear();
    ok = pollTexts(e, 1300 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err + " " + dump(samples)));
    bool hello = false;
    for (const auto& s : samples)
        hello |= s.text == "Hello";
    QVERIFY2(hello, qPrintable(dump(samples)));

    // set_subtitle_uri(NULL) for the next file: no text at all.
    QCOMPARE(ENG(e, set_file, mediaPath("subs.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_subtitle_uri, nullptr), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    samples.clear();
    ok = pollTexts(e, 1300 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err));
    for (const auto& s : samples)
        QVERIFY2(s.text.isEmpty(), qPrintable("text without a subtitle file: " + dump(samples)));
}

void TestTracksSubtitles::internalSubtitleText()
{
    REQUIRE_MEDIA("multi.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_text_sink, "appsink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_video_sink, "fakesink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_file, mediaPath("multi.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, select_subtitle, 0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);

    QVector<TextSample> samples;
    QString err;
    bool ok = pollTexts(e, 1000 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err + " " + dump(samples)));
    checkSmallBuffer(e);
    ok = pollTexts(e, 3900 * 1000000LL, &samples, &err);
    QVERIFY2(ok, qPrintable(err + " " + dump(samples)));
    checkTimeline(samples);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestTracksSubtitles::subtitlesOff()
{
    REQUIRE_MEDIA("multi.mkv");
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_text_sink, "appsink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_video_sink, "fakesink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_file, mediaPath("multi.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, select_subtitle, -1), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, seek, (guint64)(3 * kSecond + kSecond / 10), TRUE), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVector<TextSample> samples;
    QString err;
    QVERIFY2(pollTexts(e, 3800 * 1000000LL, &samples, &err), qPrintable(err));
    for (const auto& s : samples)
        QVERIFY2(s.text.isEmpty(), qPrintable("text while subtitles are off: " + dump(samples)));
    gint n = 0;
    QCOMPARE(ENG(e, get_cur_subtitle_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, -1);

    // And on again: the second cue shows after a seek back into it.
    QCOMPARE(ENG(e, select_subtitle, 0), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, seek, (guint64)(3 * kSecond + kSecond / 10), TRUE), PLAYENGINE_SUCCESS);
    bool found = waitUntil([&] {
        char buf[512];
        guint64 pts = 0, dur = 0;
        return ENG(e, get_subtitle_text, buf, 512u, &pts, &dur) == PLAYENGINE_SUCCESS &&
               QByteArray(buf) == "Two\nLines";
    }, 700);
    QVERIFY2(found, "subtitles back on: no text at 3.1-3.8 s");
}

void TestTracksSubtitles::noSubtitlesGivesEmptyText()
{
    REQUIRE_MEDIA("clip.mp4");
    Engine e;
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_text_sink, "appsink"), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    // Paused on a file without subtitles (the player's thread already polls):
    // success and an empty text.
    char buf[64];
    memset(buf, 'x', sizeof(buf));
    guint64 pts = 1, dur = 1;
    QCOMPARE(ENG(e, get_subtitle_text, buf, (guint32)sizeof(buf), &pts, &dur), PLAYENGINE_SUCCESS);
    QCOMPARE(buf[0], '\0');
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVector<TextSample> samples;
    QString err;
    QVERIFY2(pollTexts(e, kSecond, &samples, &err), qPrintable(err));
    for (const auto& s : samples)
        QVERIFY(s.text.isEmpty());
}

QTEST_GUILESS_MAIN(TestTracksSubtitles)
#include "tst_tracks_subtitles.moc"
