// The camera window on a real X11 display with the real engines: preview,
// recordings and snapshots, and what goes wrong around them (no engine, low
// storage, a removed folder, a card taken out, a full disk, a second stop).
#include <QtTest>
#include <functional>
#include <memory>
#include <sys/mount.h>

#include "window_util.h"
#include "menubar.h"
#include "playcheck.h"
#include "spacequery.h"
#include "previewwidget.h"
#include "videothumbnailer.h"

namespace {
QStringList filesIn(const QString& dir, const QString& pattern)
{
    return QDir(dir).entryList(QStringList(pattern), QDir::Files, QDir::Name);
}

int recordedSeconds(MainWindow* w)
{
    return w->cameraMenuBar()->stopWatch()->text().section(':', 2).trimmed().toInt();
}

// Holds the engine thread while in scope: requests queue up behind it.
// The gate is shared: on a busy machine the hold may begin only after the
// scope has ended, and must not wait on a semaphore that is gone.
struct EngineHold {
    std::shared_ptr<QSemaphore> gate = std::make_shared<QSemaphore>();
    explicit EngineHold(MainWindow* w, std::function<void()> first = {})
    {
        QMetaObject::invokeMethod(w->engineAdapter(), [g = gate, first] {
            if (first)
                first();
            g->acquire();
        });
    }
    ~EngineHold() { gate->release(); }
};

// A small file system of its own (a memory card, say); mounting needs root.
struct SmallDisk {
    QTemporaryDir dir;
    const QByteArray at = QFile::encodeName(dir.path());
    bool mounted;
    explicit SmallDisk(const char* size) : mounted(mount("tmpfs", at.constData(), "tmpfs", 0, size) == 0) {}
    ~SmallDisk() { takeOut(); }
    void takeOut() // lazily, as the process may still be in it
    {
        if (std::exchange(mounted, false))
            QCOMPARE(umount2(at.constData(), MNT_DETACH), 0);
    }
};
}

class TestCameraWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;
    MainWindow* w = nullptr;

    // A second press before the engine has answered does nothing. Returns
    // once a second is recorded (the state turns RUNNING before the start).
    // That holds too when an earlier request's answer arrives in between.
    void startRecording(const QString& dir)
    {
        w->setCurrentSavePath(dir);
        EngineAdapter::m_workMode = VIDEO_MODE;
        EngineAdapter* a = w->engineAdapter();
        QSignalSpy starts(w, &MainWindow::sendStartRecordingCmd), answered(a, &EngineAdapter::engineWorkDone);
        {
            EngineHold hold(w, [a] { emit a->engineWorkDone(0, 0); });
            w->sendCMDtoEngine(VIDEO_MODE);
            QVERIFY(answered.count() || answered.wait());
            QCoreApplication::processEvents(); // the window takes that answer
            w->sendCMDtoEngine(VIDEO_MODE);
        }
        QCOMPARE(starts.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(EngineAdapter::m_engineState == RUNNING && recordedSeconds(w) >= 1, 10000);
    }

private slots:
    void init()
    {
        qputenv("HOME", QFile::encodeName(m_home.path())); // the first save folder
        FileSystemWatcher::setSpaceQuery(roomy);
        EngineAdapter::m_workMode = PHOTO_MODE;
        QVERIFY(openCameraWindow(&w));
    }
    void cleanup()
    {
        if (w)
            w->close();
        delete std::exchange(w, nullptr);
        FileSystemWatcher::setSpaceQuery(nullptr);
        EngineAdapter::m_workMode = PHOTO_MODE;
        EngineAdapter::setEngineFactory(nullptr);
        // Nothing is ever saved outside the chosen folder.
        QVERIFY(filesIn("/", "dedavevuz_*").isEmpty());
    }

    // The preview shows the engine's moving pattern, and a tap on it in
    // photo mode does nothing. A recording ended by closing the window: the
    // file plays and its thumbnail is written before the threads go.
    void previewThenCloseDuringRecording()
    {
        const QImage a = grabPreview(w->previewWidget());
        QTRY_VERIFY(!a.isNull() && grabPreview(w->previewWidget()) != a); // a plain fill would not move
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);

        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        startRecording(m_home.path());
        QTRY_VERIFY_WITH_TIMEOUT(recordedSeconds(w) >= 2, 10000);
        w->close();
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QVERIFY(EngineAdapter::m_recorder == nullptr);
        QCOMPARE(thumbs.count(), 1);
        delete std::exchange(w, nullptr);

        const QStringList clips = filesIn(m_home.path(), "dedavevuz_*.mp4");
        QCOMPARE(clips.size(), 1);
        const QString clip = m_home.filePath(clips[0]);
        const PlayCheck c = checkPlays(clip);
        QCOMPARE(c.videoTracks, 1);
        QVERIFY2(c.seconds > 1.4, QByteArray::number(c.seconds));
        const QImage thumb(clip + "_thumbnail.jpg"); // the play mark: dark ground, light arrow
        QVERIFY(qGray(thumb.pixel(4, 4)) < 60 && qGray(thumb.pixel(70, 64)) > 200);
        QVERIFY(!QFile::exists(clip + "_thumbnail.jpg.part"));
    }

    // An engine that cannot be created shows the error box; capture is
    // refused until capabilities arrive, and closing (twice) does not hang.
    void noEngineBox()
    {
        w->close();
        delete w;
        EngineAdapter::setEngineFactory([]() -> RecorderEngine* { return nullptr; });
        BoxCatcher box;
        w = new MainWindow(QStringList(), -1, nullptr);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Recorder Engine Error"), 10000);
        QCOMPARE(box.text, QString("RecorderEngineCreate fail"));
        QSignalSpy starts(w, &MainWindow::sendStartRecordingCmd);
        w->sendCMDtoEngine(VIDEO_MODE);
        QCOMPARE(starts.count(), 0);
        w->close();
        w->close(); // the threads are gone: nothing is waited for again
        delete std::exchange(w, nullptr);
    }

    // Limits sent just before the press name the capture (the engine takes
    // them first): TS segments in a folder, its thumbnail the newest picture,
    // and at the count a "Recording ended" box during which taps start
    // nothing. A split start the engine refuses leaves no folder.
    void splitRecording()
    {
        QTemporaryDir save;
        w->setCurrentSavePath(save.path());
        EngineAdapter::m_workMode = VIDEO_MODE;
        QSignalSpy starts(w, &MainWindow::sendStartRecordingCmd);
        BoxCatcher box("QMessageBox", [](QDialog*) {}); // left open
        {
            EngineHold hold(w);
            emit w->set_container_format(5);
            emit w->set_file_count(2);
            emit w->set_max_file_size_bytes(200000);
            w->sendCMDtoEngine(VIDEO_MODE);
        }
        QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Recording ended"), 30000);
        QCOMPARE(box.text, QString("Recording ended: the file count was reached"));
        const QStringList folders = QDir(save.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(folders.size(), 1);
        const QString folder = save.filePath(folders[0]);
        const QStringList segments = filesIn(folder, "*.ts");
        QCOMPARE(segments, QStringList({folders[0] + "_001.ts", folders[0] + "_002.ts"}));
        QCOMPARE(checkPlays(folder + "/" + segments[0]).videoTracks, 1);
        const QString thumb = folders[0] + "_thumbnail.jpg";
        QTRY_VERIFY_WITH_TIMEOUT(!QImage(save.filePath(thumb)).isNull(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w->storageWatcher()->getNameList().value(0), thumb, 5000);
        QTRY_VERIFY(w->videoThumbnailer()->isCaptureDone());
        w->sendCMDtoEngine(VIDEO_MODE);
        QCOMPARE(starts.count(), 1);
        qobject_cast<QDialog*>(QApplication::activeModalWidget())->accept();

        REVideoEncoderSettings h263;
        memset(&h263, 0, sizeof h263);
        h263.encoderType = 3; // cannot go into TS
        emit w->set_video_encoder_settings(h263);
        BoxCatcher error;
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(error.text, QString("start recording failed"), 10000);
        QTRY_COMPARE(QDir(save.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), folders);
    }

    // Below 50 MB a recording is stopped with the "Storage is low" box; a
    // report and a tap while that stop drains bring no second stop, box or
    // thumbnail. Later captures are refused with the box.
    void lowStorageAndSecondStop()
    {
        QTemporaryDir save;
        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        startRecording(save.path());
        {
            BoxCatcher box;
            {
                EngineHold hold(w);
                FileSystemWatcher::setSpaceQuery(nearlyFull);
                QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Storage is low"), 5000);
                QCOMPARE(box.text, QString("Storage is not enough, remains 10 MB"));
                w->handleStorageNotEnough(10);
                w->sendCMDtoEngine(VIDEO_MODE);
            }
            QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(w->storageWatcher()->getNameList().size() == 1, 10000);
            QCOMPARE(box.count, 1);
        }
        QCOMPARE(thumbs.count(), 1);
        QCOMPARE(checkPlays(save.filePath(filesIn(save.path(), "*.mp4").value(0))).videoTracks, 1);

        QSignalSpy starts(w, &MainWindow::sendStartRecordingCmd), snaps(w, &MainWindow::sendSnapShotCmd);
        BoxCatcher refused;
        w->sendCMDtoEngine(PHOTO_MODE);
        w->sendCMDtoEngine(VIDEO_MODE);
        QVERIFY(refused.count == 2 && refused.title == "Storage is low");
        QCOMPARE(starts.count() + snaps.count(), 0);
    }

    // The save folder removed before a snapshot is made again and the
    // picture lands in it, listed; a second one in the same second keeps
    // both. Removed during a recording, the recording stops with a box that
    // names the folder.
    void saveFolderRemoved()
    {
        QTemporaryDir top;
        const QString save = top.filePath("save");
        QVERIFY(QDir().mkdir(save));
        w->setCurrentSavePath(save);
        QVERIFY(QDir(save).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 100, 2000);
        w->sendCMDtoEngine(PHOTO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(save, "*.jpg").size(), 1, 3000);
        // End the flight early so that the second one can go in the same second.
        if (auto* flight = w->findChild<QPropertyAnimation*>())
            flight->setCurrentTime(flight->duration());
        QTRY_VERIFY(!w->findChild<QPropertyAnimation*>() && EngineAdapter::m_engineState == PREVIREW);
        w->sendCMDtoEngine(PHOTO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(w->storageWatcher()->getNameList().size(), 2, 3000);
        const QStringList names = filesIn(save, "*.jpg");
        QCOMPARE(names[1], QString(names[0]).replace(".jpg", "_1.jpg"));
        QVERIFY(!QImage(save + "/" + names[0]).isNull() && !QImage(save + "/" + names[1]).isNull());
        QTRY_VERIFY(EngineAdapter::m_engineState == PREVIREW && !w->findChild<QPropertyAnimation*>());

        startRecording(save);
        BoxCatcher box;
        QVERIFY(QDir(save).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Recording stopped"), 8000);
        QCOMPARE(box.text, "Cannot save to " + save + ": the folder is missing");
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
        QCOMPARE(box.count, 1);
    }

    // A memory card filling up during a recording brings one box, the
    // storage box, and no empty or half-written thumbnail. A folder on the
    // card taken out is not made again on the storage below: the capture is
    // refused with a box that names it.
    void memoryCard()
    {
        SmallDisk card("size=1m");
        if (!card.mounted)
            QSKIP("no tmpfs can be mounted here");
        FileSystemWatcher::setSpaceQuery(realPlusAlmost50Mb);
        emit w->set_container_format(5);
        {
            BoxCatcher box;
            QSignalSpy thumbs(w, &MainWindow::getThumbnail);
            startRecording(card.dir.path());
            QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Storage is low"), 30000);
            QTRY_COMPARE_WITH_TIMEOUT(thumbs.count(), 1, 10000);
            // Returns once the thumbnailer has dealt with the request.
            QMetaObject::invokeMethod(w->videoThumbnailer(), [] {}, Qt::BlockingQueuedConnection);
            QCOMPARE(box.count, 1);
        }
        for (const QString& name : QDir(card.dir.path()).entryList(QDir::Files)) {
            QVERIFY2(!name.contains(".jpg") || (name.endsWith(".jpg") && QFileInfo(card.dir.filePath(name)).size() > 0),
                     qPrintable(name));
            QVERIFY(QFile::remove(card.dir.filePath(name)));
        }

        const QString dcim = card.dir.filePath("DCIM");
        QVERIFY(QDir().mkdir(dcim));
        w->setCurrentSavePath(dcim);
        card.takeOut();
        BoxCatcher box;
        w->sendCMDtoEngine(PHOTO_MODE);
        QCOMPARE(box.title, QString("Cannot save"));
        QCOMPARE(box.text, "Cannot save to " + dcim + ": the folder is missing");
        QVERIFY(QDir(card.dir.path()).isEmpty());
    }

    // A press while paused stops the recording (a photo press is ignored); a
    // recording-time report after the stop does not bring the watch back.
    void pauseThenCapture()
    {
        QTemporaryDir save;
        BoxCatcher box;
        QSignalSpy snaps(w, &MainWindow::sendSnapShotCmd);
        startRecording(save.path());
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PAUSE, 5000);
        w->sendCMDtoEngine(PHOTO_MODE);
        QCOMPARE(snaps.count(), 0);
        w->sendCMDtoEngine(VIDEO_MODE);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 5000);
        emit w->engineAdapter()->updateRecordingTime(5000000);
        QCoreApplication::processEvents();
        QCOMPARE(w->cameraMenuBar()->stopWatch()->text(), QString("0 : 0 : 0"));

        const QStringList clips = filesIn(save.path(), "*.mp4");
        QCOMPARE(clips.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(save.filePath(clips[0] + "_thumbnail.jpg")), 10000);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QCOMPARE(checkPlays(save.filePath(clips[0])).videoTracks, 1);
        QCOMPARE(box.count, 0);
    }
};

QTEST_MAIN(TestCameraWindow)
#include "tst_camera_window.moc"
