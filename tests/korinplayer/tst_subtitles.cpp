// Subtitles drawn by the interface and by the engine, on generated clips with
// .srt/.SRT files beside them, and the polling thread against a fake engine.
#include "player_test_util.h"
#include "subtitlepollingthread.h"
#include "videowidget.h"

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>

#include <atomic>
#include <cstring>

namespace {
QString plain(const QString& rich)
{
    QTextDocument doc;
    doc.setHtml(rich);
    return doc.toPlainText();
}

// Whether the last character of rich text is italic and its first is not.
bool endsItalic(const QString& rich)
{
    QTextDocument doc;
    doc.setHtml(rich);
    QTextCursor last(&doc);
    last.setPosition(doc.characterCount() - 1);
    return last.charFormat().fontItalic() && !QTextCursor(&doc).charFormat().fontItalic();
}
// A fake engine whose text fills the whole buffer, terminator or not.
std::atomic<int> fakeState{GST_STATE_PLAYING};
PlayEngineResult fakeGetState(PlayEngineHandle, GstState* st)
{
    *st = GstState(fakeState.load());
    return PLAYENGINE_SUCCESS;
}
PlayEngineResult fakeText(PlayEngineHandle, gchar* buffer, guint32, guint64* pts, guint64* dur)
{
    std::memset(buffer, 'x', 512);
    *pts = 1;
    *dur = ~guint64(0);
    return PLAYENGINE_SUCCESS;
}

// Near-white pixels in the lower half of the video window.
int brightPixels(WId win)
{
    const QImage img = QGuiApplication::primaryScreen()->grabWindow(win).toImage();
    int n = 0;
    for (int y = img.height() / 2; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qGray(img.pixel(x, y)) > 200;
    return n;
}
} // namespace

class TestSubtitles : public QObject
{
    Q_OBJECT

    std::unique_ptr<korinplayer> w;

    bool open(const QStringList& files, bool byUi)
    {
        if (!openPlayer(w, files))
            return false;
        if (byUi)
            w->menuRenderSubOpt->trigger(); // stopped: the engine is rebuilt at once
        return w->render_subtitle_by_ui == byUi;
    }
    QString shownText() const
    {
        return w->subtitle && w->subtitle->isVisible() ? w->subtitle->textLabel()->text() : QString();
    }
    // The Subtitle menu as it opens: its track entries.
    QList<QAction*> tracks()
    {
        emit w->menuSubtitle->aboutToShow();
        return w->menuSubtitle->findChild<QActionGroup*>("SubtitleTracks")->actions();
    }

private slots:
    void initTestCase() { initPlayerResources(); }
    void cleanup() { w.reset(); }

    void textTimingAndThread()
    {
        // Pango markup: entities read once, other tags dropped, lines kept.
        QCOMPARE(subtitleRichText("A\nB"), QStringLiteral("<div>A<br/>B</div>"));
        const QString hostile = subtitleRichText("<span foreground=\"red\">q</span> &amp;lt;&#38;<img src=x> <I>it</I>");
        QCOMPARE(plain(hostile), QStringLiteral("q &lt;& it"));
        QVERIFY(endsItalic(hostile));
        // No or an absurd duration: the default time on screen.
        for (quint64 ns : {quint64(0), ~quint64(0), quint64(INT_MAX) * 1000000ULL * 2})
            QCOMPARE(subtitleDisplayMs(ns), 2000);

        // 512 bytes without a terminator arrive cut, as a copy.
        PlayEngine fake{};
        fake.get_state = fakeGetState;
        fake.get_subtitle_text = fakeText;
        SubtitlePollingThread thread;
        QSignalSpy texts(&thread, &SubtitlePollingThread::updateSubtitle);
        thread.setPlayengine(&fake);
        thread.clear_need_quit();
        thread.start();
        QTRY_VERIFY(texts.count() >= 2);
        thread.stopAndWait();
        const QByteArray got = texts.at(0).at(0).toByteArray();
        QVERIFY(got.size() > 0 && got.size() <= 511 && got == QByteArray(got.size(), 'x'));
        // A stopped engine ends the thread by itself.
        fakeState = GST_STATE_READY;
        texts.clear();
        thread.clear_need_quit();
        thread.start();
        QVERIFY(thread.wait(5000) && texts.isEmpty());
    }

    // Interface rendering: each line at its time and gone when it is over;
    // the second item (clip.SRT beside it) still gets subtitles; the track
    // menu; the way back to engine rendering.
    void drawnByInterface()
    {
        QVERIFY(open({media("subs/srt.mp4"), media("subs/upper.mp4"), media("subs/internal.mkv")}, true));
        w->playlist->setCurrentIndex(0);
        QTest::mouseClick(w->playControl->playButton, Qt::LeftButton);
        QVERIFY(w->external_subtitle_loaded && w->subtitle_on);
        QTRY_VERIFY_WITH_TIMEOUT(plain(shownText()) == "First line of the test subtitles", 4000);
        QVERIFY(positionOf(*w) >= 0.9 && positionOf(*w) < 3.0);
        QTRY_VERIFY_WITH_TIMEOUT(shownText().isEmpty(), 4000);
        QVERIFY(positionOf(*w) >= 2.8 && positionOf(*w) < 4.0);
        // The engine's markup of "Tom & Jerry <i>x</i> a<b <i>y</i>".
        QTRY_VERIFY_WITH_TIMEOUT(plain(shownText()) == "Tom & Jerry x a<b y", 4000);
        QVERIFY(endsItalic(shownText()));

        QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle() == "korinplayer -- upper", 6000);
        QTRY_VERIFY_WITH_TIMEOUT(plain(shownText()) == "First line of the test subtitles", 4000);
        // A line whose time is over shows again only after a seek.
        w->pause();
        QTRY_VERIFY_WITH_TIMEOUT(shownText().isEmpty(), 4000);
        const quint64 seen = w->shownSubtitlePts;
        w->subtitle_disp("again", seen, 0);
        QVERIFY(shownText().isEmpty() && (w->stepRewind(), true));
        w->subtitle_disp("again", seen, 0);
        QCOMPARE(plain(shownText()), QStringLiteral("again"));
        // Full screen: the line stays, low on the screen, and goes above the
        // control bar while it shows.
        w->changeFullOrNormal();
        QTRY_VERIFY(w->isFullScreen());
        QVERIFY(w->subtitle->geometry().bottom() > w->videoWidget->height() - 80 && !shownText().isEmpty());
        w->showBarInFull = true;
        w->panelInFullscreen(true);
        QVERIFY(w->subtitle->geometry().bottom()
                < w->centralWidget->mapFromGlobal(w->playControl->mapToGlobal(QPoint())).y());
        w->changeFullOrNormal();
        QTRY_VERIFY(!w->isFullScreen());

        // The track menu over a file's own track; a lookup that must not match.
        w->playlist->setCurrentIndex(2);
        QVERIFY(w->stop() && w->preLoadFile(media("subs/v1.2/noext")) == 0 && !w->external_subtitle_loaded);
        QVERIFY(w->stop() && w->preLoadFile(media("subs/internal.mkv")) == 0);
        for (int round = 0; round < 2; ++round) { // "Subtitle Off", then the track
            tracks().at(round)->trigger();
            const QList<QAction*> entries = tracks();
            QVERIFY(entries.size() == 2 && entries.at(round)->isChecked()); // never twice
            QVERIFY(entries.at(0)->text() == "Subtitle Off" && entries.at(1)->text().startsWith("Subtitle 1: "));
            QVERIFY(!w->menuSubtitle->findChild<QAction*>("SubOutlineColorAction")->isEnabled()
                    && !w->menuSubtitle->findChild<QMenu*>("SubPosMenu")->isEnabled());
        }
        w->nextToPlay(2);
        QTRY_VERIFY_WITH_TIMEOUT(plain(shownText()) == "First line of the test subtitles", 4000);
        tracks().at(0)->trigger();
        QVERIFY(!w->subtitle_on && w->subtitle->isHidden());

        // Back to engine rendering from the menu: applied at the stop, which
        // joins the thread before the engine is rebuilt.
        w->menuRenderSubOpt->trigger();
        QVERIFY(w->render_subtitle_by_ui && w->stop() && !w->render_subtitle_by_ui && w->engine);
        QVERIFY(!w->subtitleThread->isRunning() && w->subtitle->isHidden());
    }

    // Engine rendering into the X window: the line changes the picture; a
    // file's own track shows at once and the menu says so.
    void drawnByEngine()
    {
        QVERIFY(open({media("subs/srt.mp4"), media("subs/internal.mkv")}, false));
        w->m_sink = XIMAGESINK;
        w->reCreatePipeline();
        w->playlist->setCurrentIndex(0);
        QVERIFY(w->preLoadFile(media("subs/srt.mp4")) == 0);
        // Black video: white pixels are the subtitle line.
        const int none = brightPixels(w->winID);
        w->nextToPlay(0);
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(*w) > 1.6, 4000);
        const int line = brightPixels(w->winID);
        QVERIFY2(line > none + 100, qPrintable(QStringLiteral("%1 vs %2").arg(line).arg(none)));
        QTRY_VERIFY_WITH_TIMEOUT(positionOf(*w) > 3.3, 4000);
        QVERIFY(brightPixels(w->winID) < line / 4);

        w->playlist->setCurrentIndex(1);
        QVERIFY(w->stop() && w->preLoadFile(media("subs/internal.mkv")) == 0);
        QVERIFY(tracks().at(1)->isChecked());
        tracks().at(0)->trigger();
        QVERIFY(tracks().at(0)->isChecked());

        // A rebuilt engine gets the style with the next file it plays.
        w->subtitle_font = QFont("Serif", 12, QFont::Bold);
        w->subtitle_color = QColor(255, 255, 0, 200);
        w->subPos = TOP_RIGHT;
        QVERIFY(w->stop());
        w->reCreatePipeline();
        w->nextToPlay(0);
        gchar font[64] = {};
        guint argb = 0;
        SubtitleHAlign h = SUBTITLE_H_ALIGN_CENTER;
        SubtitleVAlign v = SUBTITLE_V_ALIGN_BASELINE;
        gdouble at = 0;
        w->engine->get_subtitle_font(w->engine, font, sizeof font);
        w->engine->get_subtitle_color(w->engine, &argb);
        w->engine->get_subtitle_halignment(w->engine, &h, &at);
        w->engine->get_subtitle_valignment(w->engine, &v, &at);
        QCOMPARE(QString(font), QStringLiteral("Serif,Bold 12"));
        QVERIFY(argb == 0xc8ffff00 && h == SUBTITLE_H_ALIGN_RIGHT && v == SUBTITLE_V_ALIGN_TOP);
    }
};

QTEST_MAIN(TestSubtitles)
#include "tst_subtitles.moc"
