// The menu row, the video area and the media information on the real
// engine: rotation, resize, move and aspect reaching the engine, full
// screen in and out, track menus, thumbnails, the information panel.
#include "colorkey.h"
#include "mediainfowidget.h"
#include "player_test_util.h"
#include "playlistwidget.h"
#include "sliderbar.h"
#include "videowidget.h"

#include <QLabel>
#include <QMenu>

#include <cstring>

namespace {
// The engine's force_ratio, recording each call.
QVector<int> ratioCalls;
PlayEngineResult (*realRatio)(PlayEngineHandle, gboolean) = nullptr;
PlayEngineResult recordRatio(PlayEngineHandle h, gboolean keep)
{
    ratioCalls << keep;
    return realRatio(h, keep);
}
} // namespace

class TestMenus : public QObject
{
    Q_OBJECT
    std::unique_ptr<korinplayer> w;

    bool start(const QStringList& files)
    {
        if (!openPlayer(w))
            return false;
        w->openFiles(files, true);
        return QTest::qWaitFor([this] { return w->playControl->getState() == GST_STATE_PLAYING; }, 10000);
    }
    DisplayArea area()
    {
        DisplayArea a{-1, -1, -1, -1};
        w->engine->get_display_area(w->engine, &a);
        return a;
    }
    // Loads a file and opens the panel; returns its text.
    QString panelOf(const char* name)
    {
        if (w->infoWidget)
            w->showMediaInfo(); // closes it
        if (!w->stop() || w->preLoadFile(media(name)) != 0)
            return QString();
        QTest::mouseClick(w->playControl->infoButton, Qt::LeftButton);
        return w->infoWidget ? w->infoWidget->infoLabel()->text() : QString();
    }

private slots:
    void initTestCase() { initPlayerResources(); }
    void cleanup() { w.reset(); }

    void viewEntries()
    {
        BoxCloser closer;
        QVERIFY(start({media("a.mp4"), media("long.mp4")}));
        QVERIFY(w->playlist->mediaCount() == 2 && w->playlist->currentIndex() == 1); // the last one plays
        trigger(*w, "Rotate 90");
        gint degree = -1;
        w->engine->get_rotate(w->engine, &degree);
        QCOMPARE(degree, 90);
        trigger(*w, "Rotate 0");

        const QSize v = w->videoWidget->size();
        trigger(*w, "1/2 Center");
        QTRY_VERIFY(area().width == v.width() / 2 && area().height == v.height() / 2);
        w->renderVideoWidget->move(30, 30);
        trigger(*w, "Move Left");
        QCOMPARE(w->renderVideoWidget->x(), 0);
        for (int i = 0; i < 20; ++i)
            trigger(*w, "Move Right");
        QCOMPARE(w->renderVideoWidget->geometry().right(), v.width() - 1); // flush right

        realRatio = w->engine->force_ratio;
        w->engine->force_ratio = recordRatio;
        trigger(*w, "Original Size"); // 320 x 240 fits
        QCOMPARE(w->renderVideoWidget->geometry(), QRect((v.width() - 320) / 2, (v.height() - 240) / 2, 320, 240));
        QTRY_COMPARE(area().width, 320);
        trigger(*w, "Full Fill");
        QTRY_COMPARE(area().width, v.width());
        trigger(*w, "Original Ratio");
        QCOMPARE(ratioCalls, (QVector<int>{false, true}));
        w->metadata.video_info[0].width = 5000; // larger than the area: only warns
        trigger(*w, "Original Size");
        std::memset(&w->metadata, 0, sizeof w->metadata);
        trigger(*w, "Original Size");
        QTRY_COMPARE(closer.texts.size(), 2);
        QVERIFY(closer.texts.at(0).startsWith("This function only") && w->renderVideoWidget->size() == v);
        QCOMPARE(closer.texts.at(1), QStringLiteral("Wrong video resolution: 0 X 0"));

        // In full screen a click brings the bars, keyed instead of gray, for
        // a while; leaving restores the links between the areas.
        const auto background = [this](QWidget* bar) { return bar->grab().toImage().pixelColor(2, 2); };
        QColor key;
        ColorKey::color_key_to_qcolor(key);
        QVERIFY(background(w->playControl) == Qt::gray && background(w->sliderBar) == Qt::gray);
        w->changeFullOrNormal();
        QTRY_VERIFY(w->isFullScreen());
        QTRY_COMPARE(w->renderVideoWidget->height(), w->videoWidget->height() - 1);
        QTest::mouseClick(w->renderVideoWidget, Qt::LeftButton);
        QTRY_VERIFY(w->playControl->isVisible() && w->panelDisappearInFull->isActive());
        QVERIFY(background(w->playControl) == key && background(w->sliderBar) == key);
        w->changeFullOrNormal();
        QTRY_VERIFY(!w->isFullScreen());
        QTRY_COMPARE(w->renderVideoWidget->size(), w->videoWidget->size());
        w->resize(w->width() - 100, w->height() - 80);
        QTRY_COMPARE(w->renderVideoWidget->size(), w->videoWidget->size());
        QTRY_COMPARE(area().width, w->videoWidget->width());
    }

    // Track menus list one entry per track, never twice, and switch the
    // audio; a thumbnail is shown instead of playing when asked.
    void tracksAndThumbnail()
    {
        QVERIFY(start({media("two-audio.mp4")}));
        QMenu* audio = w->findChild<QMenu*>("menuAudio");
        for (int i = 0; i < 2; ++i)
            emit audio->aboutToShow();
        QVERIFY(audio->actions().size() == 2 && audio->actions().at(0)->isChecked());
        QVERIFY(audio->actions().at(1)->text().startsWith("Audio 2: "));
        audio->actions().at(1)->trigger();
        gint cur = -1;
        QTRY_VERIFY((w->engine->get_cur_audio_no(w->engine, &cur), cur == 1));
        QMenu* video = w->findChild<QMenu*>("menuVideo");
        emit video->aboutToShow();
        QVERIFY(video->actions().size() == 1 && video->actions().at(0)->text().startsWith("Video 1: language: "));

        w->findChild<QAction*>("menuGetThumbnail")->trigger();
        w->openFiles({media("long.mp4")}, true);
        QVERIFY(w->imageInfo && w->isThumbnailShown && w->imageInfo->size() == QSize(320, 240));
        QVERIFY(w->playControl->getState() != GST_STATE_PLAYING && w->playlist->currentIndex() == 1);
    }

    void mediaInformation()
    {
        // Unterminated text, hostile tags and more tracks than the record holds.
        korin_metadata md;
        std::memset(&md, 'A', sizeof md);
        std::strcpy(md.artist, "<b>Band</b>");
        md.n_audio = 10;
        md.n_video = 0;
        md.n_subtitle = -3;
        const QString text = MediaInfoWidget::describe(md, "59s", "unknown");
        QVERIFY(text.startsWith("Title: " + QString(256, 'A') + "\nArtist: <b>Band</b>\n"));
        QVERIFY(text.contains("Duration: 59s\nContainer: " + QString(64, 'A') + "\nSeekable: unknown\n"));
        QVERIFY(text.contains("Videos: [0], Audios: [10], Subtitles: [-3]\n") && !text.contains("Subtitle 1"));
        QCOMPARE(text.count(QRegularExpression("^Audio \\d", QRegularExpression::MultilineOption)), 8);

        QVERIFY(openPlayer(w));
        const QString song = panelOf("song.mp3");
        for (const char* line : {"Title: Korin Test Song\n", "Artist: Korin Band\n", "Album: Test Album\n",
                                 "Genre: Ambient\n", "Seekable: Yes\n", "Videos: [0], Audios: [1], Subtitles: [0]\n"})
            QVERIFY2(song.contains(QLatin1String(line)), qPrintable(song));
        QVERIFY(song.contains(QRegularExpression("Audio 1: .+, Language: .*\n        2 Channels, 48000 Hz, \\d+ bps\n")));
        QVERIFY(w->mediaType == AUDIO_TYPE && w->imageInfo->size() == QSize(64, 48)); // the cover
        QCOMPARE(w->infoWidget->infoLabel()->textFormat(), Qt::PlainText);
        QTest::mouseClick(w->playControl->infoButton, Qt::LeftButton);
        QVERIFY(!w->infoWidget);
        QVERIFY(panelOf("bare.mp3").contains("Title: Bare Song\n"));
        QVERIFY(!w->imageInfo->isNull() && *w->imageInfo == QImage(":/image/album-art-missing.png"));
        const QString mkv = panelOf("subs/internal.mkv");
        QVERIFY(mkv.contains(QRegularExpression("Video 1: .+\n        320 x 240 \\(25/1\\), \\d+ bps\n")));
        QVERIFY(mkv.contains("Subtitle 1: ") && mkv.contains("Duration: 6s\n") && w->mediaType == VIDEO_TYPE);

        // New metadata reaches an open panel at the next tick; stop closes it.
        QPointer<MediaInfoWidget> old = w->infoWidget;
        w->updateInfo();
        w->updateTime();
        QVERIFY(!old && w->infoWidget && w->stop() && !w->infoWidget);
    }
};

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
