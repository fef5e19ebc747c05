// The player's window with the real engine on generated clips: playing,
// pausing, seeking, trick rates, repeat modes, bad media, and a window
// whose engine is gone.
#include "player_test_util.h"
#include "seekdialog.h"
#include "sliderbar.h"
#include "volumwidget.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTimeEdit>

class TestPlayer : public QObject
{
    Q_OBJECT

    std::unique_ptr<korinplayer> w;

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
        QCOMPARE(next.at(0).at(0).toInt(), -1);
        QCOMPARE(played(titles), QStringList{"b"});
        titles.clear();
        QTRY_COMPARE(bar->getState(), GST_STATE_NULL);
        QCOMPARE(w->windowTitle(), QString("korinplayer"));

        // One item in a loop, then the whole list, then random: it goes on.
        click(bar->repeatButton);
        QCOMPARE(bar->repeatButton->icon().pixmap(42).toImage(), QIcon(":image/repeat-one.png").pixmap(42).toImage());
        next.clear();
        click(bar->playButton);
        QTRY_COMPARE_WITH_TIMEOUT(next.count(), 2, 15000);
        QCOMPARE(next.at(0).at(0).toInt(), w->playlist->currentIndex());
        QCOMPARE(next.at(1).at(0).toInt(), w->playlist->currentIndex());
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Loop);
        titles.clear();
        QTRY_VERIFY_WITH_TIMEOUT(played(titles).contains("a") && played(titles).contains("b"), 15000);
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Random);
        next.clear();
        QTRY_VERIFY_WITH_TIMEOUT(next.count() >= 1 && next.at(0).at(0).toInt() >= 0, 15000);
        QTRY_COMPARE(bar->getState(), GST_STATE_PLAYING);
        click(bar->repeatButton);
        QCOMPARE(w->playlist->playbackMode(), QMediaPlaylist::Sequential);
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
        const double paused = positionOf(*w);
        QTest::qWait(500); // nothing to wait for: paused means no change
        QVERIFY(bar->getState() == GST_STATE_PAUSED && qAbs(positionOf(*w) - paused) < 0.1);
        click(bar->stopButton);
        QVERIFY(bar->getState() == GST_STATE_NULL && w->sliderBar->playedSlidr->value() == 0);
        QCOMPARE(w->sliderBar->currentTimeLabel->text(), QString("00:00"));
        QCOMPARE(w->windowTitle(), QString("korinplayer"));
        w->seekBySlider(12); // nothing loaded: no seek
        const auto playing = [bar] { return bar->getState() == GST_STATE_PLAYING; };
        QVERIFY(lands(*w, [&] { click(bar->playButton), QTest::qWaitFor(playing); }, 0, 1.0)); // from the start
        QVERIFY(playing());

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
        QTRY_COMPARE_WITH_TIMEOUT(bar->getState(), GST_STATE_NULL, 10000);
        QVERIFY(!w->rateWidget->isVisible());

        // Beyond the end: clamped to the end, the clip ends.
        click(bar->playButton);
        QTRY_VERIFY(playing());
        w->openSeekDialog();
        w->seekDialog->timeEdit->setTime(QTime(0, 5, 0));
        click(w->seekDialog->searchButton);
        QTRY_COMPARE_WITH_TIMEOUT(bar->getState(), GST_STATE_NULL, 10000);
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
        click(d.cancelButton);
        QVERIFY(seek.isEmpty() && !d.isVisible());
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
        w->volumWidget->volSlider->setValue(10);
        for (const char* t : {"Rotate 180", "1/4 Center", "Move Down", "Original Ratio", "Original Size"})
            trigger(*w, t);
        for (const char* m : {"menuAudio", "menuVideo", "menuSubtitle"})
            emit w->findChild<QMenu*>(m)->aboutToShow();
        bar->setPlayForwardRate();
        bar->go_on();
        w->stepForward();
        w->seekBySlider(3);
        w->openFiles({media("b.mp4")}, true);
        QCOMPARE(w->getVideoThumbnail(), int(PLAYENGINE_FAILURE));
        QVERIFY(w->stop() && bar->getState() == GST_STATE_NULL);
        QTRY_VERIFY(closer.texts.contains("Wrong video resolution: 0 X 0"));
    }

    // Closing while the engine draws: engine first, then its window.
    void closeWhilePlaying()
    {
        QVERIFY(openPlaying({media("long.mp4")}));
        QVERIFY(w->close());
        QVERIFY(!w->engine && !w->renderVideoWidget);
        w->stepForward();
    }
};

QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
