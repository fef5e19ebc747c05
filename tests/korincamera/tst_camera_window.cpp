// The camera window on a real X11 display with the real engines: the preview
// moves, a recording closed with the window plays and gets its thumbnail, an
// engine that cannot be created brings the "Recorder Engine Error" box, and
// capture control: split recordings, low storage, names within one second,
// pause then stop.
#include <QtTest>
#include <QApplication>
#include <QMessageBox>

#include "window_util.h"
#include "menubar.h"
#include "playcheck.h"
#include "spacequery.h"
#include "previewwidget.h"
#include "videothumbnailer.h"

namespace {
RecorderEngine* noEngine() { return nullptr; }

QStringList filesIn(const QString& dir, const QString& pattern)
{
    return QDir(dir).entryList(QStringList(pattern), QDir::Files, QDir::Name);
}
}

class TestCameraWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;
    MainWindow* w = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // Pictures and recordings go to the home directory.
        qputenv("HOME", QFile::encodeName(m_home.path()));
    }
    void init()
    {
        FileSystemWatcher::setSpaceQuery(roomy);
        EngineAdapter::m_workMode = PHOTO_MODE;
        QVERIFY(openCameraWindow(&w));
    }
    void cleanup()
    {
        if (w)
            w->close();
        delete w;
        w = nullptr;
        FileSystemWatcher::setSpaceQuery(nullptr);
        EngineAdapter::m_workMode = PHOTO_MODE;
        EngineAdapter::setEngineFactory(nullptr);
    }

    // The preview shows the engine's moving pattern, and a tap on it in
    // photo mode does nothing. A recording ended by closing the window: the
    // file plays and its thumbnail is written before the threads go.
    void previewThenCloseDuringRecording()
    {
        QTest::qWait(500);
        const QImage a = grabPreview(w->previewWidget());
        QTest::qWait(400);
        const QImage b = grabPreview(w->previewWidget());
        QVERIFY(!a.isNull() && a.size() == b.size());
        QVERIFY(a != b); // the engine draws: the widget's own fill would not move
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);

        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        EngineAdapter::m_workMode = VIDEO_MODE;
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(2000);
        QElapsedTimer t;
        t.start();
        w->close();
        QVERIFY(t.elapsed() < 20000);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QVERIFY(EngineAdapter::m_recorder == nullptr);
        QCOMPARE(thumbs.count(), 1);
        delete w;
        w = nullptr;

        const QStringList clips = filesIn(m_home.path(), "dedavevuz_*.mp4");
        QCOMPARE(clips.size(), 1);
        const QString clip = m_home.filePath(clips[0]);
        const PlayCheck c = checkPlays(clip);
        QVERIFY(c.opened);
        QCOMPARE(c.videoTracks, 1);
        QVERIFY2(c.seconds > 1.4 && c.seconds < 3.5, QByteArray::number(c.seconds));
        const QImage thumb(clip + "_thumbnail.jpg");
        QVERIFY(!thumb.isNull());
        // The play mark covers the top-left corner: dark ground, light arrow.
        QVERIFY(qGray(thumb.pixel(4, 4)) < 60);
        QVERIFY(qGray(thumb.pixel(70, 64)) > 200);
    }

    // An engine that cannot be created shows the error box; capture is
    // refused until capabilities arrive, and closing (twice) does not hang. (A start
    // the engine refuses is in camera_settings_engine.)
    void noEngineBox()
    {
        w->close();
        delete w;
        EngineAdapter::setEngineFactory(noEngine);
        BoxCatcher box;
        w = new MainWindow(QStringList(), -1, nullptr);
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(!box.title.isEmpty(), 10000);
        QCOMPARE(box.title, QString("Recorder Engine Error"));
        QCOMPARE(box.text, QString("RecorderEngineCreate fail"));
        w->sendCMDtoEngine(VIDEO_MODE);
        QTest::qWait(100);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QElapsedTimer t;
        t.start();
        w->close();
        w->close(); // the threads are gone: nothing is waited for again
        QVERIFY(t.elapsed() < 5000);
        delete w;
        w = nullptr;
    }

    // A split recording writes TS segments in a folder of its own and the
    // thumbnail beside it, which becomes the newest picture; a folder that
    // cannot be made refuses the capture with a box.
    void splitRecording()
    {
        emit w->set_container_format(5);
        emit w->set_file_count(5);
        emit w->set_max_file_size_bytes(200000);
        EngineAdapter::m_workMode = VIDEO_MODE;
        QTest::qWait(200);
        w->setCurrentSavePath("/proc");
        {
            BoxCatcher box;
            w->sendCMDtoEngine(VIDEO_MODE);
            QCOMPARE(box.title, QString("Cannot save recording"));
            QVERIFY(box.text.contains("/proc/dedavevuz_"));
        }
        QTest::qWait(200);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);

        QTemporaryDir save;
        w->setCurrentSavePath(save.path());
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        const QStringList folders = QDir(save.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), 1);
        const QString folder = save.filePath(folders[0]);
        QTRY_VERIFY_WITH_TIMEOUT(filesIn(folder, "*.ts").size() >= 2, 20000);
        if (EngineAdapter::m_engineState == RUNNING) // the engine stops by itself at the count
            w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
        const QStringList segments = filesIn(folder, "*.ts");
        QVERIFY(segments.size() <= 5);
        QCOMPARE(segments[0], folders[0] + "_001.ts");
        QCOMPARE(checkPlays(folder + "/" + segments[0]).videoTracks, 1);
        const QString thumb = folders[0] + "_thumbnail.jpg";
        QTRY_VERIFY_WITH_TIMEOUT(!QImage(save.filePath(thumb)).isNull(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w->storageWatcher()->getNameList().value(0), thumb, 5000);
    }

    // Below 50 MB a running recording is stopped with the "Storage is low"
    // box, once; later captures are refused with it and reach no engine.
    void lowStorage()
    {
        QTemporaryDir save;
        w->setCurrentSavePath(save.path());
        EngineAdapter::m_workMode = VIDEO_MODE;
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1000);
        {
            BoxCatcher box;
            FileSystemWatcher::setSpaceQuery(nearlyFull);
            QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Storage is low"), 5000);
            QCOMPARE(box.text, QString("Storage is not enough, remains 10 MB"));
            QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
            QTest::qWait(2500); // another report while short: dropped
            QCOMPARE(box.count, 1);
        }
        const QStringList clips = filesIn(save.path(), "*.mp4");
        QCOMPARE(clips.size(), 1);
        QCOMPARE(checkPlays(save.filePath(clips[0])).videoTracks, 1);

        QSignalSpy starts(w, &MainWindow::sendStartRecordingCmd), snaps(w, &MainWindow::sendSnapShotCmd);
        for (int mode : {PHOTO_MODE, VIDEO_MODE}) {
            BoxCatcher box;
            w->sendCMDtoEngine(mode);
            QCOMPARE(box.title, QString("Storage is low"));
        }
        QCOMPARE(starts.count() + snaps.count(), 0);
    }

    // Two snapshots within one second keep both pictures.
    void snapshotsInOneSecond()
    {
        QTemporaryDir save;
        w->setCurrentSavePath(save.path());
        QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 100, 2000);
        w->sendCMDtoEngine(PHOTO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(save.path(), "*.jpg").size(), 1, 3000);
        // End the flight early so that the second one can go in the same second.
        if (auto* flight = w->findChild<QPropertyAnimation*>())
            flight->setCurrentTime(flight->duration());
        QTRY_VERIFY(!w->findChild<QPropertyAnimation*>() && EngineAdapter::m_engineState == PREVIREW);
        QTest::qWait(50);
        w->sendCMDtoEngine(PHOTO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(save.path(), "*.jpg").size(), 2, 3000);
        const QStringList names = filesIn(save.path(), "*.jpg");
        QCOMPARE(names[1], QString(names[0]).replace(".jpg", "_1.jpg"));
        QVERIFY(!QImage(save.filePath(names[0])).isNull() && !QImage(save.filePath(names[1])).isNull());
    }

    // A press while paused stops the recording (a photo press is ignored);
    // a press before the engine has answered does nothing; a recording-time
    // report after the stop does not bring the stop watch back.
    void pauseThenCapture()
    {
        QTemporaryDir save;
        w->setCurrentSavePath(save.path());
        BoxCatcher box;
        EngineAdapter::m_workMode = VIDEO_MODE;
        w->sendCMDtoEngine(VIDEO_MODE);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1500);
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PAUSE, 5000);
        w->sendCMDtoEngine(PHOTO_MODE);
        QTest::qWait(300);
        QCOMPARE(EngineAdapter::m_engineState.load(), PAUSE);
        w->sendCMDtoEngine(VIDEO_MODE);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
        emit w->engineAdapter()->updateRecordingTime(5000000);
        QTest::qWait(1500);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QCOMPARE(w->cameraMenuBar()->stopWatch()->text(), QString("0 : 0 : 0"));
        QCOMPARE(box.count, 0);

        const QStringList clips = filesIn(save.path(), "*.mp4");
        QCOMPARE(clips.size(), 1);
        const PlayCheck c = checkPlays(save.filePath(clips[0]));
        QCOMPARE(c.videoTracks, 1);
        QVERIFY2(c.seconds > 1.0 && c.seconds < 3.0, QByteArray::number(c.seconds));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(save.filePath(clips[0] + "_thumbnail.jpg")), 10000);
    }
};

QTEST_MAIN(TestCameraWindow)
#include "tst_camera_window.moc"
