// The player's window with the real engine on generated clips: playing,
// pausing, seeking, trick rates, repeat modes, the menus and the video area,
// media information, subtitles drawn by the interface and by the engine, and
// a window whose engine is gone.
#include "colorkey.h"
#include "mediainfowidget.h"
#include "player_test_util.h"
#include "seekdialog.h"
#include "sliderbar.h"
#include "subtitlepollingthread.h"
#include "videowidget.h"
#include "volumwidget.h"

#include <QActionGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimeEdit>

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

class TestPlayer : public QObject
{
    Q_OBJECT

    std::unique_ptr<korinplayer> w;

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
    // A window playing files, from the play button.
    bool openPlaying(const QStringList& files)
    {
        if (!openPlayer(w, files))
            return false;
        click(w->playControl->playButton);
        return QTest::qWaitFor([this] { return w->playControl->getState() == GST_STATE_PLAYING; }, 10000);
    }
    void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

private slots:
    void initTestCase() { initPlayerResources(); }
    void cleanup() { w.reset(); }

    void playToEndAndRepeatModes()
    {
        QVERIFY(openPlayer(w, {media("a.mp4"), media("b.mp4")}));
        PlayControl* bar = w->playControl;
        QSignalSpy next(w.get(), &korinplayer::playIndex);
        QSignalSpy titles(w.get(), &QWidget::windowTitleChanged);
        // No current item: play takes the last one, then the list ends.
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 1, 15000);
        QVERIFY(next.at(0).at(0).toInt() == -1 && played(titles) == QStringList{"b"});
        titles.clear();
        QTRY_VERIFY(bar->getState() == GST_STATE_NULL && w->windowTitle() == "korinplayer");

        // One item in a loop, then the whole list, then random: it goes on.
        click(bar->repeatButton);
        QCOMPARE(bar->repeatButton->icon().pixmap(42).toImage(), QIcon(":image/repeat-one.png").pixmap(42).toImage());
        next.clear();
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 2, 15000);
        QVERIFY(next.at(0).at(0).toInt() == w->playlist->currentIndex() && next.at(1) == next.at(0));
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Loop);
        titles.clear();
        QTRY_VERIFY_WITH_TIMEOUT(played(titles).contains("a") && played(titles).contains("b"), 15000);
        click(bar->repeatButton);
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Sequential); // after Random
        click(bar->stopButton);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
    }

    // One long clip: pause, stop, the seek dialog, steps, trick rates, the
    // groove, and the end reached by seeking and by the top rate.
    void transport()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        PlayControl* bar = w->playControl;
        QTRY_COMPARE(SliderBar::totalTime, qint64(30));
        QTRY_VERIFY(positionOf(*w) > 1.0);
        // The slider follows the engine within its one-second tick.
        QTRY_VERIFY(qAbs(w->sliderBar->playedSlidr->value() - positionOf(*w)) < 1.5);
        click(bar->playButton);
        QCOMPARE(bar->getState(), GST_STATE_PAUSED);
        click(bar->stopButton);
        QVERIFY(bar->getState() == GST_STATE_NULL && w->sliderBar->playedSlidr->value() == 0);
        QVERIFY(w->sliderBar->currentTimeLabel->text() == "00:00" && w->windowTitle() == "korinplayer");
        w->seekBySlider(12); // nothing loaded: no seek
        const auto playing = [bar] { return bar->getState() == GST_STATE_PLAYING; };
        QVERIFY(lands(*w, [&] { click(bar->playButton), QTest::qWaitFor(playing); }, 0, 1.0) && playing()); // from 0

        w->openSeekDialog();
        QPointer<SeekDialog> dialog = w->seekDialog;
        dialog->timeEdit->setTime(QTime(0, 0, 20));
        QVERIFY(lands(*w, [&] { click(dialog->searchButton); }, 20, 1.0));
        QTRY_VERIFY(dialog.isNull()); // disposed of once closed
        w->seekBySlider(4);
        QVERIFY(lands(*w, [&] { w->stepRewind(); }, 0, 1.0)); // within the first 10 s: to 0

        // Rates: the indicator shows what the engine runs at.
        const auto rate = [this] {
            gdouble r = 0;
            w->engine->get_play_rate(w->engine, &r);
            return r;
        };
        w->seekBySlider(12);
        click(bar->fastForwardBtn);
        QVERIFY(w->rateWidget->isVisible() && w->ratelabel->text().contains("&gt;&gt;0.5</span>"));
        click(bar->fastForwardBtn); // 1.0: no indicator
        QVERIFY(!w->rateWidget->isVisible());
        click(bar->fastRewindBtn);
        QVERIFY(w->ratelabel->text().contains("&lt;&lt;-2</span>") && rate() == -2.0);
        const double back = positionOf(*w);
        QTRY_VERIFY(positionOf(*w) < back - 0.5);
        // A click half along the groove seeks there and ends the trick rate.
        Slider* slider = w->sliderBar->playedSlidr;
        QVERIFY(lands(*w, [&] {
            QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, slider->height() / 2));
        }, 15, 1.0));
        QVERIFY(!w->rateWidget->isVisible() && rate() == 1.0);
        // The forward cycle starts again: its seventh step, 16, runs to the end.
        for (int i = 0; i < 7; ++i)
            click(bar->fastForwardBtn);
        QVERIFY(w->ratelabel->text().contains("&gt;&gt;16</span>") && rate() == 16.0);
        QTRY_VERIFY_WITH_TIMEOUT(bar->getState() == GST_STATE_NULL && !w->rateWidget->isVisible(), 10000);

        // Beyond the end: clamped to the end, the clip ends.
        click(bar->playButton);
        QTRY_VERIFY(playing());
        w->openSeekDialog();
        w->seekDialog->timeEdit->setTime(QTime(0, 5, 0));
        click(w->seekDialog->searchButton);
        QTRY_COMPARE_WITH_TIMEOUT(bar->getState(), GST_STATE_NULL, 10000);
        // Closing while the engine draws: engine first, then its window.
        click(bar->playButton);
        QTRY_VERIFY(playing());
        QVERIFY(w->close() && !w->engine && !w->renderVideoWidget);
        w->stepForward();
    }

    // The slider row and the seek dialog on their own: labels past an hour
    // and a day, a click on the groove seeks even where the handle is, a
    // drag seeks once, on release; an emptied time seeks nothing.
    void sliderAndDialog()
    {
        SliderBar bar;
        const struct { qint64 durMs, posMs; const char* labels; } rows[] = {
            {0, 0, "00:00 00:00"}, {3599999, 61500, "01:01 59:59"}, {3600000, 3600000, "01:00:00 01:00:00"},
            {90061000, 86405000, "24:00:05 25:01:01"}, {-5000, 86405000, "24:00:05 25:01:01"}};
        for (const auto& r : rows) {
            bar.durationChanged(r.durMs);
            bar.positionChanged(r.posMs);
            QCOMPARE(bar.currentTimeLabel->text() + " " + bar.totalTimeLabel->text(), QString(r.labels));
        }
        bar.resize(1000, 60);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        Slider* s = bar.playedSlidr;
        QSignalSpy seeks(&bar, &SliderBar::sliderMoves);
        bar.durationChanged(400 * 1000);
        bar.positionChanged(200 * 1000);
        QPoint p(s->width() / 4, s->height() / 2);
        for (int i = 1; i <= 2; ++i) {
            QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, p);
            QVERIFY(seeks.count() == i && seeks.last().at(0).toInt() == 400 * p.x() / s->width());
        }
        const auto mouse = [s](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent ev(type, at, s->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(s, &ev);
        };
        p.rx() = s->width() / 4 + 4; // on the handle
        mouse(QEvent::MouseButtonPress, p, Qt::LeftButton);
        for (int i = 0; i < 5; ++i)
            mouse(QEvent::MouseMove, p += QPoint(s->width() / 10, 0), Qt::LeftButton);
        QCOMPARE(bar.currentTimeLabel->text(), SliderBar::formatTime(s->value(), 400));
        bar.positionChanged(151 * 1000); // moves no held handle
        QVERIFY(s->value() > 250 && seeks.count() == 2);
        mouse(QEvent::MouseButtonRelease, p, Qt::NoButton);
        QVERIFY(seeks.count() == 3 && seeks.last().at(0).toInt() == s->value());
        bar.durationChanged(0);

        QCOMPARE(SeekDialog(nullptr, 3600999).timeEdit->displayFormat(), QString("mm:ss"));
        SeekDialog d(nullptr, 3601000);
        QCOMPARE(d.timeEdit->displayFormat(), QString("hh:mm:ss"));
        QSignalSpy seek(&d, &SeekDialog::seek);
        d.show();
        d.timeEdit->findChild<QLineEdit*>()->setText(QString());
        click(d.searchButton);
        QVERIFY(seek.isEmpty() && d.isVisible()); // stays for a correction
    }

    // Without an engine (its creation failed) every control is harmless.
    void engineNull()
    {
        BoxCloser closer;
        QVERIFY(openPlayer(w, {media("a.mp4"), media("b.mp4")}));
        play_engine_destroy(w->engine);
        w->engine = nullptr;
        PlayControl* bar = w->playControl;
        for (QAbstractButton* b : {bar->previousButton, bar->playButton, bar->nextTrackBtn, bar->infoButton,
                                   bar->repeatButton, bar->volButtom})
            click(b);
        for (const char* t : {"Rotate 180", "1/4 Center", "Move Down", "Original Ratio", "Original Size"})
            trigger(*w, t);
        for (const char* m : {"menuAudio", "menuVideo", "menuSubtitle"})
            emit w->findChild<QMenu*>(m)->aboutToShow();
        w->stepForward();
        w->openFiles({media("b.mp4")}, true);
        QVERIFY(w->getVideoThumbnail() == PLAYENGINE_FAILURE && w->stop() && bar->getState() == GST_STATE_NULL);
        QTRY_VERIFY(closer.texts.contains("Wrong video resolution: 0 X 0"));
    }

    void viewEntries()
    {
        BoxCloser closer;
        QVERIFY(openPlaying({media("a.mp4"), media("long.mp4")}));
        QVERIFY(w->playlist->mediaCount() == 2 && w->playlist->currentIndex() == 1); // the last one plays
        trigger(*w, "Rotate 90");
        gint degree = -1;
        QVERIFY(!w->engine->get_rotate(w->engine, &degree) && degree == 90);
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

        trigger(*w, "Original Size"); // 320 x 240 fits
        QCOMPARE(w->renderVideoWidget->geometry(), QRect((v.width() - 320) / 2, (v.height() - 240) / 2, 320, 240));
        QTRY_COMPARE(area().width, 320);
        trigger(*w, "Full Fill");
        QTRY_COMPARE(area().width, v.width());
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
        QVERIFY(openPlaying({media("two-audio.mp4")}));
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


    // Interface rendering: each line at its time and gone when it is over;
    // the second item (clip.SRT beside it) still gets subtitles; the track
    // menu; the way back to engine rendering.
    void drawnByInterface()
    {
        QVERIFY(openPlayer(w, {media("subs/srt.mp4"), media("subs/upper.mp4"), media("subs/internal.mkv")}));
        w->menuRenderSubOpt->trigger(); // stopped: the engine is rebuilt at once
        QVERIFY(w->render_subtitle_by_ui && (w->playlist->setCurrentIndex(0), true));
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
        QVERIFY(openPlayer(w, {media("subs/srt.mp4"), media("subs/internal.mkv")}));
        w->playlist->setCurrentIndex(1);
        QVERIFY(w->preLoadFile(media("subs/internal.mkv")) == 0 && tracks().at(1)->isChecked());
        tracks().at(0)->trigger();
        QVERIFY(tracks().at(0)->isChecked() && w->stop());
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

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
