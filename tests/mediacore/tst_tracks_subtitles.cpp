/* Tracks of the two-audio MKV with the style of its drawn subtitles, and subtitle
 * text through the "appsink" text sink: subs.srt and the MKV's track carry
 * "Hello" at 0.5-1.5 s and "Two\nLines" at 3-4 s. */
#include "engine_test_util.h"
#include "../../engines/mediacore/src/engine_private.h"

#include <array>

class TestTracksSubtitles : public QObject {
    Q_OBJECT
private slots:
    void switchTracks();
    void subtitleText_data();
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

/* The style of the text overlay inside the engine's pipeline (its internals), "" if none. */
static QString overlayStyle(PlayEngine* e)
{
    GstIterator* it = gst_bin_iterate_all_by_element_factory_name(
        GST_BIN(static_cast<EnginePriv*>(e->priv)->playbin), "textoverlay");
    GValue v = G_VALUE_INIT;
    QString style;
    if (gst_iterator_next(it, &v) == GST_ITERATOR_OK) {
        gchar* font = nullptr;
        guint colour = 0, outline = 0;
        gint h = -1, vert = -1;
        g_object_get(g_value_get_object(&v), "font-desc", &font, "color", &colour, "outline-color",
                     &outline, "halignment", &h, "valignment", &vert, nullptr);
        style = QStringLiteral("%1 %2 %3 %4 %5").arg(font).arg(colour, 0, 16).arg(outline, 0, 16).arg(h).arg(vert);
        g_free(font);
        g_value_unset(&v);
    }
    gst_iterator_free(it);
    return style;
}

void TestTracksSubtitles::switchTracks()
{
    std::unique_ptr<EventLog> log(new EventLog); // given up with the engine on a deadlock
    Engine e(log.get());
    // A subtitle style chosen before the first load holds in the overlay of every load.
    OK(ENG(e, set_subtitle_font, "Serif 30"));
    OK(ENG(e, set_subtitle_color, 0xff00ff00u));
    OK(ENG(e, set_subtitle_outline_color, 0xff0000ffu));
    OK(ENG(e, set_subtitle_halignment, SUBTITLE_H_ALIGN_LEFT, 0.0));
    OK(ENG(e, set_subtitle_valignment, SUBTITLE_V_ALIGN_TOP, 0.0));
    const QString style = QStringLiteral("Serif 30 ff00ff00 ff0000ff %1 %2").arg(SUBTITLE_H_ALIGN_LEFT).arg(SUBTITLE_V_ALIGN_TOP);
    QVERIFY(load(e, "multi.mkv"));
    QCOMPARE(engineInt(e, e->get_audio_num), 2);
    QCOMPARE(engineInt(e, e->get_subtitle_num), 1);
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 0);
    // Track numbers index the metadata arrays: the languages tell them apart.
    korin_metadata m;
    FETCH_METADATA(e, m);
    QVERIFY2(QByteArray(m.audio_info[0].language).startsWith("en"), m.audio_info[0].language);
    QVERIFY2(QByteArray(m.audio_info[1].language).startsWith("fr"), m.audio_info[1].language);
    QVERIFY2(QByteArray(m.subtitle_info[0].language).startsWith("de"), m.subtitle_info[0].language);

    // Switch audio while playing, at once pause and seek: all return (watchdog) and succeed.
    OK(ENG(e, play));
    QVERIFY(waitForPositionAbove(e, kSecond / 2, 5000) > 0);
    QCOMPARE(overlayStyle(e), style);
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

    // Out of range: refused, the current track stays.
    QVERIFY(ENG(e, select_audio, 2) != PLAYENGINE_SUCCESS);
    QVERIFY(ENG(e, select_audio, -5) != PLAYENGINE_SUCCESS);
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 1);
    // (Subtitles off and on again: subtitleText.) A choice made paused holds on play; a new set_file clears it.
    OK(ENG(e, pause));
    OK(ENG(e, select_audio, 0));
    OK(ENG(e, play));
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 0);
    OK(ENG(e, select_audio, 1));
    QVERIFY(load(e, "multi.mkv"));
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 0);
    QCOMPARE(overlayStyle(e), style);
    QCOMPARE(log->countOf(EVENT_ID_ERROR), 0);
}

void TestTracksSubtitles::subtitleText_data()
{
    QTest::addColumn<bool>("external");
    QTest::newRow("srt beside mp4") << true;
    QTest::newRow("mkv track") << false;
}

void TestTracksSubtitles::subtitleText()
{
    QFETCH(bool, external);
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
    OK(setFile(e, external ? "subs.mp4" : "multi.mkv"));
    if (external) // a plain path, no scheme, as the player passes it
        OK(ENG(e, set_subtitle_uri, srt.toUtf8().constData()));
    OK(ENG(e, pause));
    if (!external)
        OK(ENG(e, select_subtitle, 0));
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

    if (external) {
        // The video's end ends playback, not the last line's.
        QVERIFY2(log.waitFor(EVENT_ID_EOS, 4000) >= 0, "no EOS at the video's end");
        // After a stop the same file and subtitle play again from the start.
        OK(ENG(e, stop));
        OK(ENG(e, play));
        QVERIFY(dump(pollTexts(e, 1300 * kMs)).contains("'Hello'"));
        // A seek back brings the line again (the sink may hand lines over early after a seek).
        OK(ENG(e, seek, (guint64)(200 * kMs), FALSE));
        QVERIFY(dump(pollTexts(e, 1300 * kMs)).contains("'Hello'"));
        // No subtitle file for the next item: no text at all.
        OK(setFile(e, "subs.mp4"));
        OK(ENG(e, set_subtitle_uri, nullptr));
        OK(ENG(e, play));
        for (const auto& s : pollTexts(e, 1300 * kMs))
            QVERIFY2(s.text.isEmpty(), "text without a subtitle file");
    } else {
        // Subtitles off: no text inside a cue; on again: the cue is back.
        OK(ENG(e, select_subtitle, -1));
        OK(ENG(e, seek, (guint64)(3100 * kMs), TRUE));
        for (const auto& s : pollTexts(e, 3800 * kMs))
            QVERIFY2(s.text.isEmpty(), "text while subtitles are off");
        OK(ENG(e, select_subtitle, 0));
        OK(ENG(e, seek, (guint64)(3100 * kMs), TRUE));
        QVERIFY2(waitUntil([&] {
            char buf[64];
            return ENG(e, get_subtitle_text, buf, 64u, &pts, &dur) == PLAYENGINE_SUCCESS &&
                   QByteArray(buf) == "Two\nLines";
        }, 700), "subtitles back on: no text");
    }
}

QTEST_GUILESS_MAIN(TestTracksSubtitles)
#include "tst_tracks_subtitles.moc"
