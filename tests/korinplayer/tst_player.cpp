// The player's window with the real engine on generated clips: playing,
// pausing, seeking, trick rates, repeat modes, volume, bad media, and a
// window whose engine is gone.
#include "player_test_util.h"
#include "seekdialog.h"
#include "sliderbar.h"
#include "videowidget.h"
#include "volumwidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTimeEdit>

class TestPlayer : public QObject
{
    Q_OBJECT

    std::unique_ptr<korinplayer> w;

    bool open(const QStringList& files)
    {
        if (!openPlayer(w, files))
            return false;
        w->activateWindow(); // for the key presses
        return QTest::qWaitForWindowActive(w.get(), 2000);
    }

    // open, then the play button until it plays.
    bool openPlaying(const QStringList& files)
    {
        if (!open(files))
            return false;
        click(w->playControl->playButton);
        return QTest::qWaitFor([this] { return w->playControl->getState() == GST_STATE_PLAYING; }, 5000);
    }

    void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

private slots:
    void initTestCase() { initPlayerResources(); }
    void cleanup()
    {
        w.reset();
        QTest::qWait(50);
    }

    void playToEndAndRepeatModes()
    {
        QVERIFY(open({media("a.mp4"), media("b.mp4")}));
        PlayControl* bar = w->playControl;
        QSignalSpy next(w.get(), &korinplayer::playIndex);

        QSignalSpy titles(w.get(), &QWidget::windowTitleChanged);
        auto played = [&titles] {
            QStringList shown;
            for (const QList<QVariant>& t : titles)
                if (t.at(0).toString().startsWith("korinplayer -- ") && !t.at(0).toString().endsWith("loading"))
                    shown << t.at(0).toString();
            titles.clear();
            return shown;
        };

        // No current item: play takes the last one, then the list ends.
        QCOMPARE(w->playlist->currentIndex(), -1);
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 1, 15000);
        QCOMPARE(next.at(0).at(0).toInt(), -1);
        QCOMPARE(played(), QStringList{"korinplayer -- b"});
        QTRY_COMPARE(bar->getState(), GST_STATE_NULL);

        // Sequential from the first: both items, then the end.
        next.clear();
        w->playlist->setCurrentIndex(0);
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 2, 15000);
        QCOMPARE(played(), (QStringList{"korinplayer -- a", "korinplayer -- b"}));
        QCOMPARE(next.at(0).at(0).toInt(), 1);
        QCOMPARE(next.at(1).at(0).toInt(), -1);
        QTRY_COMPARE(bar->getState(), GST_STATE_NULL);
        QCOMPARE(w->windowTitle(), QString("korinplayer"));

        // One item in a loop: the same item again and again.
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::CurrentItemInLoop);
        QCOMPARE(bar->repeatButton->icon().pixmap(42).toImage(), QIcon(":image/repeat-one.png").pixmap(42).toImage());
        w->playlist->setCurrentIndex(1);
        next.clear();
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 2, 15000);
        QCOMPARE(next.at(0).at(0).toInt(), 1);
        QCOMPARE(next.at(1).at(0).toInt(), 1);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);
        QCOMPARE(w->windowTitle(), QString("korinplayer -- b"));

        // Whole list in a loop: from the last item back to the first.
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Loop);
        QTRY_VERIFY_WITH_TIMEOUT(w->playlist->currentIndex() == 0 && bar->getState() == GST_STATE_PLAYING, 15000);

        // Random: some item, and it plays.
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Random);
        next.clear();
        QTRY_VERIFY_WITH_TIMEOUT(next.count() >= 1, 15000);
        QVERIFY(next.at(0).at(0).toInt() == 0 || next.at(0).at(0).toInt() == 1);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);

        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Sequential);
        click(bar->stopButton);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
    }

    void pauseResumeStop()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        PlayControl* bar = w->playControl;
        QTRY_COMPARE(SliderBar::totalTime, qint64(30));
        QTRY_VERIFY(positionOf(*w) > 1.0);

        click(bar->playButton);
        QCOMPARE(bar->getState(), GST_STATE_PAUSED);
        const double paused = positionOf(*w);
        QTest::qWait(800);
        QVERIFY(qAbs(positionOf(*w) - paused) < 0.1);

        click(bar->playButton);
        QCOMPARE(bar->getState(), GST_STATE_PLAYING);
        QTRY_VERIFY(positionOf(*w) > paused + 0.5);
        QTRY_COMPARE(w->sliderBar->playedSlidr->value(), int(positionOf(*w)));

        click(bar->stopButton);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
        QCOMPARE(w->sliderBar->playedSlidr->value(), 0);
        QCOMPARE(w->sliderBar->currentTimeLabel->text(), QString("00:00"));
        QCOMPARE(w->windowTitle(), QString("korinplayer"));

        // Play again after a stop starts from the beginning.
        click(bar->playButton);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);
        QVERIFY(positionOf(*w) < 2.0);
    }

    void seekBySliderDialogAndKeys()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        PlayControl* bar = w->playControl;
        Slider* slider = w->sliderBar->playedSlidr;
        QTRY_COMPARE(SliderBar::totalTime, qint64(30));

        // The seek dialog, opened by its key; a second press opens no second
        // one (a click on the groove is in trickRates).
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(w->seekDialog);
        QPointer<SeekDialog> dialog = w->seekDialog;
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(w->seekDialog, dialog);
        dialog->timeEdit->setTime(QTime(0, 0, 20));
        click(dialog->searchButton);
        QVERIFY(qAbs(positionOf(*w) - 20) < 1.0);
        QTRY_VERIFY(dialog.isNull()); // disposed of once closed
        QCOMPARE(SliderBar::currentTime, qint64(positionOf(*w)));

        // Ten-second steps by key.
        double before = positionOf(*w);
        QTest::keyClick(w.get(), Qt::Key_Right, Qt::AltModifier);
        QVERIFY2(qAbs(positionOf(*w) - (before + 10)) < 1.2, qPrintable(QString::number(positionOf(*w))));
        before = positionOf(*w);
        QTest::keyClick(w.get(), Qt::Key_Left, Qt::AltModifier);
        QVERIFY(qAbs(positionOf(*w) - (before - 10)) < 1.2);
        w->seekBySlider(4);
        QTest::keyClick(w.get(), Qt::Key_Left, Qt::AltModifier); // within the first 10 s: to 0
        QVERIFY(positionOf(*w) < 1.0);
        QCOMPARE(bar->getState(), GST_STATE_PLAYING);

        // Beyond the end: clamped to the end, the clip ends, playback stops.
        w->openSeekDialog();
        QVERIFY(w->seekDialog);
        w->seekDialog->timeEdit->setTime(QTime(0, 5, 0));
        click(w->seekDialog->searchButton);
        QTRY_COMPARE_WITH_TIMEOUT(bar->getState(), GST_STATE_NULL, 10000);
        QTRY_VERIFY(!w->seekDialog);

        // Nothing loaded: neither slider nor steps nor the dialog seek.
        w->seekBySlider(12);
        w->stepForward();
        QCOMPARE(bar->getState(), GST_STATE_NULL);
        QCOMPARE(slider->value(), 0);
    }

    void trickRates()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        PlayControl* bar = w->playControl;
        w->seekBySlider(12);
        // The rate the engine runs at (its speed at each rate is measured in tst_playback).
        auto rate = [this] {
            gdouble r = 0;
            w->engine->get_play_rate(w->engine, &r);
            return r;
        };

        click(bar->fastForwardBtn); // 0.5
        QVERIFY(w->rateWidget && w->rateWidget->isVisible());
        QVERIFY(w->ratelabel->text().contains("&gt;&gt;0.5</span>"));
        click(bar->fastForwardBtn); // 1.0: no indicator
        QVERIFY(!w->rateWidget->isVisible());
        click(bar->fastForwardBtn);
        click(bar->fastForwardBtn); // 2.0
        QVERIFY(w->ratelabel->text().contains("&gt;&gt;2</span>"));
        QCOMPARE(rate(), 2.0);
        click(bar->fastRewindBtn); // -2
        QVERIFY(w->ratelabel->text().contains("&lt;&lt;-2</span>"));
        QCOMPARE(rate(), -2.0);
        const double back = positionOf(*w);
        QTRY_VERIFY(positionOf(*w) < back - 0.5);

        // A click half along the groove seeks there and ends the trick rate:
        // indicator and engine alike.
        QTRY_COMPARE(SliderBar::totalTime, qint64(30));
        Slider* slider = w->sliderBar->playedSlidr;
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, slider->height() / 2));
        QVERIFY2(qAbs(positionOf(*w) - 15) < 1.0, qPrintable(QString::number(positionOf(*w))));
        QVERIFY(!w->rateWidget->isVisible());
        QCOMPARE(rate(), 1.0);

        // The top rate runs to the end; the stop takes the indicator away.
        for (int i = 0; i < 7; ++i)
            click(bar->fastForwardBtn); // ... 16
        QVERIFY(w->ratelabel->text().contains("&gt;&gt;16</span>"));
        QTRY_COMPARE_WITH_TIMEOUT(bar->getState(), GST_STATE_NULL, 10000);
        QVERIFY(!w->rateWidget->isVisible());
    }

    void volumeAndMute()
    {
        VolumWidget::muted = false;
        QVERIFY(openPlaying({media("long.mp4")}));
        PlayControl* bar = w->playControl;
        QCOMPARE(w->engine->set_volume(w->engine, 0.3), PLAYENGINE_SUCCESS);

        click(bar->volButtom);
        QVERIFY(w->volumWidget && w->volumWidget->isVisible());
        QCOMPARE(w->volumWidget->volNumber->text(), QString("30"));
        w->volumWidget->volSlider->setValue(55);
        gdouble vol = 0;
        w->engine->get_volume(w->engine, &vol);
        QVERIFY(qAbs(vol - 0.55) < 0.01);
        w->volumWidget->isMuteCkBox->click();
        gboolean muted = FALSE;
        w->engine->get_mute(w->engine, &muted);
        QVERIFY(muted);

        click(bar->volButtom); // closes
        QVERIFY(!w->volumWidget);
        click(bar->volButtom); // a third press opens a fresh one
        QVERIFY(w->volumWidget && w->volumWidget->isVisible());
        QVERIFY(w->volumWidget->isMuteCkBox->isChecked());
        QCOMPARE(w->volumWidget->volNumber->text(), QString("55"));
        w->volumWidget->isMuteCkBox->click();
        w->engine->get_mute(w->engine, &muted);
        QVERIFY(!muted);
        click(bar->volButtom);
        QVERIFY(!w->volumWidget);
    }

    void badMedia()
    {
        BoxCloser closer;
        QVERIFY(open({}));
        PlayControl* bar = w->playControl;

        // Missing paths never reach the list.
        w->addToPlaylist(QStringLiteral("/nonexistent/clip.mp4"));
        QCOMPARE(w->addToPlaylist(QStringList{"/nonexistent/other.mp4", "no such file"}), 0);
        QCOMPARE(w->playlist->mediaCount(), 0);

        // Files that cannot load: nothing plays, nothing hangs.
        for (const char* bad : {"bad-truncated.mp4", "bad-random.mkv", "bad-text.mp4"}) {
            w->addFile(media(bad), true);
            QVERIFY2(bar->getState() != GST_STATE_PLAYING, bad);
            QTest::qWait(300);
        }
        QCOMPARE(w->preLoadFile(media("bad-text.mp4")), -1);
        QTRY_COMPARE(bar->getState(), GST_STATE_NULL);
        // The engine's complaints reach the user as error boxes.
        QTRY_VERIFY(closer.titles.contains("Gstreamer error"));
        QTest::qWait(500);

        // An unplayable item between two good ones: the error box, then a stop.
        w->playlist->clear();
        closer.titles.clear();
        QCOMPARE(w->addToPlaylist({media("a.mp4"), media("bad-random.mkv"), media("b.mp4")}), 3);
        QSignalSpy next(w.get(), &korinplayer::playIndex);
        w->playlist->setCurrentIndex(0);
        click(bar->playButton);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);
        QTRY_VERIFY_WITH_TIMEOUT(closer.titles.contains("Gstreamer error"), 15000);
        QTRY_COMPARE(bar->getState(), GST_STATE_NULL);
        QTest::qWait(1500);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
        QCOMPARE(w->playlist->currentIndex(), 1);
        QCOMPARE(w->windowTitle(), QString("korinplayer"));
        // The rest can still be played by hand.
        click(bar->nextTrackBtn);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);
        QCOMPARE(w->playlist->currentIndex(), 2);
    }

    // A sink change rebuilds the engine at the next stop; playing the
    // current item again must load it into the new engine. With no sink
    // detected the engine's own default still plays.
    void rebuiltEngineLoadsCurrentItem()
    {
        QVERIFY(openPlaying({media("long.mp4"), media("a.mp4")}));
        PlayControl* bar = w->playControl;
        w->m_sink = UNKONWNSINK;
        QVERIFY(w->stop());
        QVERIFY(w->engine);
        QCOMPARE(w->m_preSink, UNKONWNSINK);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
        w->nextToPlay(w->playlist->currentIndex());
        QCOMPARE(bar->getState(), GST_STATE_PLAYING);
        QTRY_VERIFY(positionOf(*w) > 0.5);
    }

    // Without an engine every control is harmless.
    void engineNull()
    {
        BoxCloser closer;
        QVERIFY(open({media("a.mp4"), media("b.mp4")}));
        play_engine_destroy(w->engine);
        w->engine = nullptr;
        PlayControl* bar = w->playControl;
        for (QAbstractButton* b : {bar->previousButton, bar->playButton, bar->nextTrackBtn, bar->infoButton,
                                   bar->repeatButton})
            click(b);
        bar->setPlayForwardRate();
        bar->setPlayRewindRate();
        bar->go_on();
        bar->pause();
        bar->stop();
        w->stepForward();
        w->stepRewind();
        w->seekBySlider(3);
        w->updateTime();
        w->adjustRenderRect(QSize(320, 240));
        QCOMPARE(w->preLoadFile(media("a.mp4")), -1);
        w->nextToPlay(1);
        w->addFile(media("b.mp4"), true);
        click(bar->volButtom);
        QVERIFY(w->volumWidget);
        w->volumWidget->volSlider->setValue(10);
        w->volumWidget->isMuteCkBox->click();
        click(bar->volButtom);
        w->openSeekDialog();
        QVERIFY(w->seekDialog);
        click(w->seekDialog->searchButton);
        QVERIFY(w->stop());
        QTest::qWait(200);
        QCOMPARE(bar->getState(), GST_STATE_NULL);
        QVERIFY(w->rateWidget == nullptr || !w->rateWidget->isVisible());
    }

    // Closing while the engine draws: engine first, then its window.
    void closeWhilePlaying()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        QTest::qWait(500);
        QVERIFY(w->close());
        QVERIFY(!w->engine);
        QVERIFY(!w->renderVideoWidget);
        w->stepForward();
        QTest::qWait(300);
    }
};

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
