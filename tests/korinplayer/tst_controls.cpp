// The player's controls on their own: control bar, position slider, volume
// pop-up and seek dialog, as a user presses and drags them.
#include "loadstylesheet.h"
#include "playcontrol.h"
#include "seekdialog.h"
#include "sliderbar.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimeEdit>
#include <QtTest>

namespace {
QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(42).toImage();
}

QList<double> rates(const QSignalSpy& spy)
{
    QList<double> out;
    for (const QList<QVariant>& args : spy)
        out << args.at(0).toDouble();
    return out;
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

QRect handleRect(QSlider* slider)
{
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    return slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider);
}
} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initPlayerResources(); }

    // The play/pause button asks only for what the state allows and waits
    // for the window's answer; READY asks for nothing.
    void playButtonFollowsState()
    {
        PlayControl bar;
        bar.show();
        QSignalSpy play(&bar, &PlayControl::play), goOn(&bar, &PlayControl::go_on),
            pause(&bar, &PlayControl::pause);
        QTest::mouseClick(bar.playButton, Qt::LeftButton);
        QCOMPARE(play.count(), 1);
        QCOMPARE(bar.getState(), GST_STATE_NULL);
        bar.setState(GST_STATE_PLAYING);
        QCOMPARE(iconImage(bar.playButton->icon()), iconImage(QIcon(":image/pause.png")));
        bar.setState(GST_STATE_READY);
        QTest::mouseClick(bar.playButton, Qt::LeftButton);
        QCOMPARE(play.count() + goOn.count() + pause.count(), 1);
        QVERIFY(bar.stopButton->isEnabled()); // READY is only stored
        bar.setState(GST_STATE_NULL);
        QVERIFY(!bar.stopButton->isEnabled() && !bar.fastForwardBtn->isEnabled() && !bar.fastRewindBtn->isEnabled());
        QCOMPARE(iconImage(bar.playButton->icon()), iconImage(QIcon(":image/play.png")));
    }

    // Trick-rate presses step through their cycles; pressing the other
    // direction restarts the first one.
    void rateCycles()
    {
        PlayControl bar;
        bar.show();
        bar.setState(GST_STATE_PLAYING);
        QSignalSpy spy(&bar, &PlayControl::changeRate);
        for (int i = 0; i < 9; ++i)
            QTest::mouseClick(bar.fastForwardBtn, Qt::LeftButton);
        QCOMPARE(rates(spy), (QList<double>{0.5, 1.0, 1.5, 2.0, 4.0, 8.0, 16.0, 1.0, 0.5}));
        spy.clear();
        QTest::mouseClick(bar.fastForwardBtn, Qt::LeftButton);
        QTest::mouseClick(bar.fastRewindBtn, Qt::LeftButton);
        QTest::mouseClick(bar.fastForwardBtn, Qt::LeftButton);
        QCOMPARE(rates(spy), (QList<double>{1.0, -2.0, 0.5}));
        spy.clear();
        for (int i = 0; i < 6; ++i)
            QTest::mouseClick(bar.fastRewindBtn, Qt::LeftButton);
        QCOMPARE(rates(spy), (QList<double>{-2.0, -4.0, -8.0, -16.0, 1.0, -2.0}));
    }

    // Gray in a window, the colour key when the main window is full screen.
    void barBackground()
    {
        qputenv("COLORKEY", "00FF0000");
        QWidget top;
        top.resize(800, 600);
        auto* bar = new PlayControl(&top);
        auto* sliderBar = new SliderBar(&top);
        bar->setGeometry(0, 0, 800, 60);
        sliderBar->setGeometry(0, 100, 800, 60);
        top.show();
        for (QWidget* w : {(QWidget*)bar, (QWidget*)sliderBar})
            QCOMPARE(w->grab().toImage().pixelColor(2, 2), QColor(Qt::gray));
        top.showFullScreen();
        QTRY_VERIFY(top.isFullScreen());
        for (QWidget* w : {(QWidget*)bar, (QWidget*)sliderBar})
            QCOMPARE(w->grab().toImage().pixelColor(2, 2), QColor(Qt::red));
        qunsetenv("COLORKEY");
    }

    // Hours appear from one hour on and keep counting past a day; the last
    // second is not "00:00"; a negative duration changes nothing.
    void timeLabels()
    {
        SliderBar bar;
        const struct { qint64 durMs, posMs; const char *cur, *total; int max; } rows[] = {
            {0, 0, "00:00", "00:00", 0},
            {3599999, 61500, "01:01", "59:59", 3599},
            {3600000, 3600000, "01:00:00", "01:00:00", 3600},
            {90061000, 86405000, "24:00:05", "25:01:01", 90061},
            {-5000, 86405000, "24:00:05", "25:01:01", 90061},
        };
        for (const auto& r : rows) {
            bar.durationChanged(r.durMs);
            bar.positionChanged(r.posMs);
            QCOMPARE(bar.currentTimeLabel->text(), QString(r.cur));
            QCOMPARE(bar.totalTimeLabel->text(), QString(r.total));
            QCOMPARE(bar.playedSlidr->maximum(), r.max);
        }
        QCOMPARE(bar.playedSlidr->value(), 86405);
        bar.durationChanged(0);
        bar.positionChanged(0);
    }

    // A click on the groove seeks once, also where the handle already is;
    // a drag seeks once, on release; the engine's ticks never seek.
    void sliderSeeks()
    {
        SliderBar bar;
        bar.resize(1000, 60);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        Slider* s = bar.playedSlidr;
        QSignalSpy seeks(&bar, &SliderBar::sliderMoves);
        bar.durationChanged(400 * 1000);

        bar.positionChanged(200 * 1000);
        QCOMPARE(seeks.count(), 0);

        const int quarterX = s->width() / 4;
        const int expected = 400 * quarterX / s->width();
        const int y = s->height() / 2;
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, QPoint(quarterX, y));
        QCOMPARE(seeks.count(), 1);
        QCOMPARE(seeks.at(0).at(0).toInt(), expected);
        QVERIFY(qAbs(expected - 100) <= 1);

        // Same spot again: the value does not change, the click still seeks.
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, QPoint(quarterX, y));
        QCOMPARE(seeks.count(), 2);
        QCOMPARE(seeks.at(1).at(0).toInt(), expected);
        // ...and the next tick from the engine does not seek.
        bar.positionChanged(150 * 1000);
        QCOMPARE(seeks.count(), 2);

        // Drag the handle: the elapsed label follows, one seek on release.
        const QRect handle = handleRect(s);
        QVERIFY(handle.isValid());
        QPoint p = handle.center();
        sendMouse(s, QEvent::MouseButtonPress, p, Qt::LeftButton);
        QVERIFY(s->isSliderDown());
        for (int i = 0; i < 5; ++i) {
            p.rx() += s->width() / 10;
            sendMouse(s, QEvent::MouseMove, p, Qt::LeftButton);
        }
        QCOMPARE(seeks.count(), 2);
        const int dragged = s->value();
        QVERIFY(dragged > 250);
        QCOMPARE(bar.currentTimeLabel->text(), SliderBar::formatTime(dragged, 400));
        // While held, engine ticks move neither the handle nor cause seeks.
        bar.positionChanged(151 * 1000);
        QCOMPARE(s->value(), dragged);
        sendMouse(s, QEvent::MouseButtonRelease, p, Qt::NoButton);
        QCOMPARE(seeks.count(), 3);
        QCOMPARE(seeks.at(2).at(0).toInt(), dragged);

        // A right click does not jump.
        QTest::mouseClick(s, Qt::RightButton, Qt::NoModifier, QPoint(10, y));
        QCOMPARE(seeks.count(), 3);
        bar.durationChanged(0);
        bar.positionChanged(0);
    }

    void seekDialog()
    {
        QCOMPARE(SeekDialog(nullptr, 3601000).timeEdit->displayFormat(), QString("hh:mm:ss"));
        QCOMPARE(SeekDialog(nullptr, 3600999).timeEdit->displayFormat(), QString("mm:ss"));

        SeekDialog d(nullptr, 2 * 3600 * 1000);
        QSignalSpy seek(&d, &SeekDialog::seek);
        auto* edit = d.timeEdit->findChild<QLineEdit*>();
        QVERIFY(edit);

        // An emptied time: nothing sought, the dialog stays for a correction.
        d.show();
        edit->setText(QString());
        QTest::mouseClick(d.searchButton, Qt::LeftButton);
        QCOMPARE(seek.count(), 0);
        QVERIFY(d.isVisible());

        d.timeEdit->setTime(QTime(1, 2, 3));
        d.acurateSeek->click();
        QTest::mouseClick(d.searchButton, Qt::LeftButton);
        QCOMPARE(seek.count(), 1);
        QCOMPARE(seek.at(0).at(0).toTime(), QTime(1, 2, 3));
        QCOMPARE(seek.at(0).at(1).toBool(), true);
        QVERIFY(!d.isVisible());

        d.show();
        QTest::mouseClick(d.cancelButton, Qt::LeftButton);
        QCOMPARE(seek.count(), 1);
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
