// The player's controls on their own: bar backgrounds, the position
// slider's labels, clicks and drags, and the seek dialog.
#include "loadstylesheet.h"
#include "playcontrol.h"
#include "seekdialog.h"
#include "sliderbar.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimeEdit>
#include <QtTest>

class TestControls : public QObject
{
    Q_OBJECT

    static void mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
    {
        QMouseEvent ev(type, pos, w->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &ev);
    }

private slots:
    void initTestCase() { initPlayerResources(); }

    // Gray in a window, the colour key when the main window is full screen.
    void barBackground()
    {
        qputenv("COLORKEY", "00FF0000");
        QWidget top;
        top.resize(800, 600);
        QWidget* bars[] = {new PlayControl(&top), new SliderBar(&top)};
        bars[0]->setGeometry(0, 0, 800, 60);
        bars[1]->setGeometry(0, 100, 800, 60);
        top.show();
        for (QWidget* w : bars)
            QCOMPARE(w->grab().toImage().pixelColor(2, 2), QColor(Qt::gray));
        top.showFullScreen();
        QTRY_VERIFY(top.isFullScreen());
        for (QWidget* w : bars)
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
            QCOMPARE(bar.currentTimeLabel->text() + " " + bar.totalTimeLabel->text(), QString(r.cur) + " " + r.total);
            QCOMPARE(bar.playedSlidr->maximum(), r.max);
        }
        bar.durationChanged(0);
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

        const QPoint quarter(s->width() / 4, s->height() / 2);
        const int expected = 400 * quarter.x() / s->width();
        QVERIFY(qAbs(expected - 100) <= 1);
        for (int i = 1; i <= 2; ++i) { // the second click changes no value, and still seeks
            QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, quarter);
            QVERIFY(seeks.count() == i && seeks.last().at(0).toInt() == expected);
        }

        // Drag the handle: the elapsed label follows, one seek on release;
        // engine ticks while it is held move nothing.
        QStyleOptionSlider opt;
        opt.initFrom(s);
        opt.orientation = Qt::Horizontal;
        opt.maximum = s->maximum();
        opt.sliderPosition = opt.sliderValue = s->value();
        QPoint p = s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s).center();
        mouse(s, QEvent::MouseButtonPress, p, Qt::LeftButton);
        QVERIFY(s->isSliderDown());
        for (int i = 0; i < 5; ++i) {
            p.rx() += s->width() / 10;
            mouse(s, QEvent::MouseMove, p, Qt::LeftButton);
        }
        const int dragged = s->value();
        QVERIFY(dragged > 250 && bar.currentTimeLabel->text() == SliderBar::formatTime(dragged, 400));
        bar.positionChanged(151 * 1000);
        QVERIFY(s->value() == dragged && seeks.count() == 2);
        mouse(s, QEvent::MouseButtonRelease, p, Qt::NoButton);
        QVERIFY(seeks.count() == 3 && seeks.last().at(0).toInt() == dragged);
        bar.durationChanged(0);
    }

    void seekDialog()
    {
        QCOMPARE(SeekDialog(nullptr, 3601000).timeEdit->displayFormat(), QString("hh:mm:ss"));
        QCOMPARE(SeekDialog(nullptr, 3600999).timeEdit->displayFormat(), QString("mm:ss"));
        SeekDialog d(nullptr, 2 * 3600 * 1000);
        QSignalSpy seek(&d, &SeekDialog::seek);

        // An emptied time: nothing sought, the dialog stays for a correction.
        d.show();
        d.timeEdit->findChild<QLineEdit*>()->setText(QString());
        QTest::mouseClick(d.searchButton, Qt::LeftButton);
        QVERIFY(seek.isEmpty() && d.isVisible());

        d.timeEdit->setTime(QTime(1, 2, 3));
        d.acurateSeek->click();
        QTest::mouseClick(d.searchButton, Qt::LeftButton);
        QVERIFY(seek.count() == 1 && !d.isVisible());
        QVERIFY(seek.at(0).at(0).toTime() == QTime(1, 2, 3) && seek.at(0).at(1).toBool());
        d.show();
        QTest::mouseClick(d.cancelButton, Qt::LeftButton);
        QVERIFY(seek.count() == 1 && !d.isVisible());
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
