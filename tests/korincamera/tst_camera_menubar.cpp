// The camera's menu bar on its own: mode switch and capture blocking, and the
// newest-picture button.
#include <QtTest>

#include "menubar.h"
#include "window_util.h"

class TestCameraMenuBar : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        EngineAdapter::m_engineState = PREVIREW;
        EngineAdapter::m_workMode = PHOTO_MODE;
    }

    // The mode changes at the half-way frame; clicks on the capture button
    // are lost while the flip runs and carry the new mode after it; the
    // switch is refused while recording and allowed while paused.
    void modeSwitch()
    {
        CameraMenuBar bar(nullptr);
        bar.show();
        QSignalSpy capture(&bar, &CameraMenuBar::takeSnapShotBtn);
        SwitchFunctionButton* sw = bar.switchButton();

        QTest::mouseClick(sw, Qt::LeftButton);
        QCOMPARE(sw->m_timeLine.state(), QTimeLine::Running);
        sw->changeIcon(49);
        QCOMPARE(EngineAdapter::m_workMode.load(), PHOTO_MODE);
        sw->changeIcon(50);
        QCOMPARE(EngineAdapter::m_workMode.load(), VIDEO_MODE);
        sw->changeIcon(60); // toggles once per run
        QCOMPARE(EngineAdapter::m_workMode.load(), VIDEO_MODE);
        QTest::mouseClick(bar.snapshotButton(), Qt::LeftButton);
        QCOMPARE(capture.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sw->m_timeLine.state(), QTimeLine::NotRunning, 2000);
        QTest::mouseClick(bar.snapshotButton(), Qt::LeftButton);
        QCOMPARE(capture.count(), 1);
        QCOMPARE(capture.at(0).at(0).toInt(), int(VIDEO_MODE));

        EngineAdapter::m_engineState = RUNNING;
        QTest::mouseClick(sw, Qt::LeftButton);
        QCOMPARE(sw->m_timeLine.state(), QTimeLine::NotRunning);
        EngineAdapter::m_engineState = PAUSE;
        QTest::mouseClick(sw, Qt::LeftButton);
        QCOMPARE(sw->m_timeLine.state(), QTimeLine::Running);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_workMode.load(), PHOTO_MODE, 2000);
    }

    // Black over an empty directory, then the watcher's newest picture; a
    // picture written late is picked up by the retries.
    void thumbnailFollowsWatcher()
    {
        QTemporaryDir dir;
        const QString oldCwd = QDir::currentPath();
        CameraMenuBar bar(nullptr);
        bar.resize(bar.sizeHint());
        ThumbnailButton* thumb = bar.thumbnailButton();
        FileSystemWatcher watcher(dir.path());
        connect(&watcher, &FileSystemWatcher::nameListFirstChanged, &bar, &CameraMenuBar::changeThumbnailImage);
        watcher.updateNameList();
        QCOMPARE(centre(thumb), QColor(Qt::black));

        QVERIFY(picture(dir.filePath("a.png"), Qt::red));
        watcher.updateNameList();
        QTRY_COMPARE(centre(thumb), QColor(Qt::red));

        bar.changeThumbnailImage("late.png");
        QCOMPARE(centre(thumb), QColor(Qt::black));
        QTest::qWait(1500);
        QVERIFY(picture(dir.filePath("late.png"), Qt::blue));
        QTRY_COMPARE_WITH_TIMEOUT(centre(thumb), QColor(Qt::blue), 2500);
        QDir::setCurrent(oldCwd);
    }
};

QTEST_MAIN(TestCameraMenuBar)
#include "tst_camera_menubar.moc"
