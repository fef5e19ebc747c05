// The camera window on a real X11 display with the real engines: the preview
// moves, a recording closed with the window plays and gets its thumbnail, and
// engine failures become "Recorder Engine Error" boxes.
#include <QtTest>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "boxcatcher.h"
#include "mainwindow.h"
#include "playcheck.h"
#include "previewwidget.h"
#include "videothumbnailer.h"

namespace {
RecorderEngine* noEngine() { return nullptr; }

QImage grabPreview(PreviewWidget* p)
{
    const QPoint g = p->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), p->width(), p->height()).toImage();
}
}

class TestCameraWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;

    MainWindow* openWindow()
    {
        MainWindow* w = new MainWindow(QStringList(), -1, nullptr);
        w->show();
        if (!QTest::qWaitForWindowExposed(w))
            return w;
        QTest::qWait(200);
        return w;
    }
    static bool ready(MainWindow* w)
    {
        return w->engineAdapter()->updateCapabilityCompleted() && FileSystemWatcher::getFreeSpace() > 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // Pictures and recordings go to the home directory.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        EngineAdapter::m_workMode = PHOTO_MODE;
    }

    // Start-up: the preview shows the engine's moving pattern; a tap on it
    // is a click; the save directory is the home directory.
    void startsWithMovingPreview()
    {
        MainWindow* w = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ready(w), 15000);
        QCOMPARE(w->getCurrentSavePath(), QDir(m_home.path()).canonicalPath());
        QTest::qWait(500);
        const QImage a = grabPreview(w->previewWidget());
        QTest::qWait(400);
        const QImage b = grabPreview(w->previewWidget());
        QVERIFY(!a.isNull() && a.size() == b.size());
        QVERIFY(a != b);
        // Not a plain fill: the pattern has many colours.
        QSet<QRgb> colours;
        for (int y = 0; y < a.height(); y += 8)
            for (int x = 0; x < a.width(); x += 8)
                colours.insert(a.pixel(x, y));
        QVERIFY2(colours.size() > 5, QByteArray::number(colours.size()));

        QSignalSpy clicked(w->previewWidget(), &PreviewWidget::clicked);
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        // In photo mode and in preview a tap does nothing.
        QTest::qWait(100);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        w->close();
        delete w;
    }

    // A recording with a pause, ended by closing the window: the file plays
    // and its thumbnail is written before the threads go.
    void closeDuringRecording()
    {
        MainWindow* w = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ready(w), 15000);
        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        EngineAdapter::m_workMode = VIDEO_MODE;
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1000);
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PAUSE, 5000);
        QTest::qWait(500);
        QTest::mouseClick(w->previewWidget(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1000);

        QElapsedTimer t;
        t.start();
        w->close();
        QVERIFY(t.elapsed() < 20000);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QVERIFY(EngineAdapter::m_recorder == nullptr);
        QCOMPARE(thumbs.count(), 1);
        delete w;
        EngineAdapter::m_workMode = PHOTO_MODE;

        const QStringList clips = QDir(m_home.path()).entryList(QStringList() << "dedavevuz_*.mp4", QDir::Files);
        QCOMPARE(clips.size(), 1);
        QVERIFY(QRegularExpression("^dedavevuz_\\d{8}_\\d{6}\\.mp4$").match(clips[0]).hasMatch());
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

    // A start the engine refuses and an engine that cannot be created both
    // show the error box; the first asks for no thumbnail.
    void errorBoxes()
    {
        const QStringList before = QDir(m_home.path()).entryList(QDir::Files);
        MainWindow* w = openWindow();
        QTRY_VERIFY_WITH_TIMEOUT(ready(w), 15000);
        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        REVideoEncoderSettings v;
        memset(&v, 0, sizeof v);
        v.encoderType = 3; // H.263 cannot go into FLV
        emit w->set_video_encoder_settings(v);
        emit w->set_container_format(4);
        {
            BoxCatcher box;
            w->sendCMDtoEngine(VIDEO_MODE);
            QTRY_VERIFY_WITH_TIMEOUT(!box.title.isEmpty(), 10000);
            QCOMPARE(box.title, QString("Recorder Engine Error"));
            QCOMPARE(box.text, QString("start recording failed"));
        }
        QTest::qWait(200);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QCOMPARE(thumbs.count(), 0);
        w->close();
        delete w;
        QCOMPARE(QDir(m_home.path()).entryList(QDir::Files), before);

        EngineAdapter::setEngineFactory(noEngine);
        {
            BoxCatcher box;
            w = openWindow();
            QTRY_VERIFY_WITH_TIMEOUT(!box.title.isEmpty(), 10000);
            QCOMPARE(box.title, QString("Recorder Engine Error"));
            QCOMPARE(box.text, QString("RecorderEngineCreate fail"));
        }
        QVERIFY(!w->engineAdapter()->updateCapabilityCompleted());
        // Capture is refused until capabilities arrive; closing does not hang.
        w->sendCMDtoEngine(VIDEO_MODE);
        QTest::qWait(100);
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QElapsedTimer t;
        t.start();
        w->close();
        QVERIFY(t.elapsed() < 5000);
        delete w;
        EngineAdapter::setEngineFactory(nullptr);
    }
};

QTEST_MAIN(TestCameraWindow)
#include "tst_camera_window.moc"
