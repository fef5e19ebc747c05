// The play engine as the player's window uses it: turning the picture on each
// sink the player offers (pixels checked), a broken file inside a playlist,
// and subtitles drawn by the interface from a file longer than the video.
#include "player_test_util.h"
#include "subtitle.h"
#include "subtitlepollingthread.h"
#include "videowidget.h"
#include "../mediacore/picture_turn.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

class TestEngineUse : public QObject
{
    Q_OBJECT
    std::unique_ptr<korinplayer> w;
    QTemporaryDir dir;

    void trigger(const QString& text)
    {
        for (QAction* a : w->menuWidget()->findChildren<QAction*>())
            if (a->text() == text)
                return a->trigger();
        QFAIL(qPrintable(text));
    }
    int shownTurn() const
    {
        return pictureTurn(QGuiApplication::primaryScreen()->grabWindow(w->renderVideoWidget->winId()).toImage());
    }
    GstState state() const { return w->playControl->getState(); }
    QString subtitleShown() const
    {
        return w->subtitle && w->subtitle->isVisible() ? w->subtitle->textLabel()->text() : QString();
    }

private slots:
    void initTestCase()
    {
        initPlayerResources();
        // 8 s of vertical colour bars, white on the left.
        QCOMPARE(QProcess::execute("gst-launch-1.0", QProcess::splitCommand(
            "-q videotestsrc num-buffers=200 pattern=smpte100 ! video/x-raw,width=320,height=240,framerate=25/1 "
            "! x264enc speed-preset=ultrafast ! mp4mux ! filesink location=" + dir.filePath("bars.mp4"))), 0);
    }
    void cleanup() { w.reset(); }

    void rotation_data()
    {
        QTest::addColumn<int>("sink");
        QTest::newRow("glimagesink") << int(GLIMAGESINK);
        QTest::newRow("ximagesink entry (the engine's own sink)") << int(XIMAGESINK);
    }
    // Each turn shows at once while playing; playback goes on.
    void rotation()
    {
        QFETCH(int, sink);
        BoxCloser closer;
        QVERIFY(openPlayer(w));
        w->m_sink = VideoSink(sink);
        w->reCreatePipeline();
        w->openFiles({dir.filePath("bars.mp4")}, true);
        QTRY_COMPARE_WITH_TIMEOUT(state(), GST_STATE_PLAYING, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(shownTurn(), 0, 3000);
        for (int degree : {90, 180, 270, 0, 90}) {
            trigger(QStringLiteral("Rotate %1").arg(degree));
            QTRY_COMPARE_WITH_TIMEOUT(shownTurn(), degree, 1500);
        }
        QCOMPARE(state(), GST_STATE_PLAYING);
        QVERIFY(closer.texts.isEmpty());
    }

    // One box naming the broken file, then a stop; the next file plays.
    void brokenFileInPlaylist()
    {
        BoxCloser closer;
        QVERIFY(openPlayer(w, {media("a.mp4"), media("bad-text.mp4"), media("b.mp4")}));
        w->nextToPlay(0);
        QTRY_COMPARE_WITH_TIMEOUT(closer.texts.size(), 1, 15000);
        QCOMPARE(closer.titles, QStringList{"Gstreamer error"});
        QVERIFY2(closer.texts[0].startsWith("bad-text.mp4: cannot be played ("), qPrintable(closer.texts[0]));
        QTRY_COMPARE(state(), GST_STATE_NULL);
        QTest::qWait(1000); // a second box would come by now
        QCOMPARE(closer.texts.size(), 1);
        w->playControl->nextTrackBtn->click();
        QTRY_COMPARE_WITH_TIMEOUT(state(), GST_STATE_PLAYING, 10000);
        QCOMPARE(w->playlist->currentIndex(), 2);
    }

    // A 60 s .srt beside a 4 s video, drawn by the interface: the lines keep
    // coming after a turn, and the video's end ends playback.
    void longerSubtitlesByInterface()
    {
        QVERIFY(QProcess::execute("gst-launch-1.0", QProcess::splitCommand(
            "-q videotestsrc num-buffers=100 pattern=smpte100 ! video/x-raw,width=320,height=240,framerate=25/1 "
            "! x264enc speed-preset=ultrafast ! mp4mux ! filesink location=" + dir.filePath("short.mp4"))) == 0);
        QFile srt(dir.filePath("short.srt"));
        QVERIFY(srt.open(QIODevice::WriteOnly));
        for (int s = 0; s < 60; s++)
            srt.write(QStringLiteral("%1\n%2,000 --> %3,900\nLine %1\n\n").arg(s + 1)
                          .arg(QTime(0, 0).addSecs(s).toString(), QTime(0, 0).addSecs(s).toString()).toUtf8());
        srt.close();
        BoxCloser closer;
        QVERIFY(openPlayer(w, {dir.filePath("short.mp4")}));
        w->menuRenderSubOpt->trigger();
        QVERIFY(w->render_subtitle_by_ui);
        w->nextToPlay(0);
        QTRY_VERIFY_WITH_TIMEOUT(subtitleShown().contains("Line"), 5000);
        trigger("Rotate 90");
        const QString before = subtitleShown();
        QTRY_VERIFY_WITH_TIMEOUT(subtitleShown().contains("Line") && subtitleShown() != before, 2500);
        QVERIFY(w->subtitleThread->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(state(), GST_STATE_NULL, 8000);
        QVERIFY(closer.texts.isEmpty());
    }
};

QTEST_MAIN(TestEngineUse)
#include "tst_engine_use.moc"
