// The look-back gallery over the camera window: swiping, taps that play a
// video in a player process while the engine is closed, refusals and bad
// folders (scripted engine, stand-in players); then a clip recorded by the
// real engine opened in the real korinplayer.
#include <QtTest>
#include <QProcess>

#include "fake_recorder.h"
#include "lookbackwidget.h"
#include "menubar.h"
#include "previewwidget.h"
#include "window_util.h"

namespace {
// Red, green, blue, yellow: the gallery's entries, newest first.
const QColor kColours[] = {{220, 30, 30}, {30, 200, 30}, {30, 30, 220}, {230, 220, 20}};

void script(const QString& path, const QByteArray& body = QByteArray())
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(body) == body.size());
    f.close();
    QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
}

// Press in the middle, move by each step (the first move only marks the
// start), release where the last step ended.
void swipe(QWidget* w, const QVector<int>& steps)
{
    QPoint p(w->width() / 2, w->height() / 2);
    auto send = [w, &p](QEvent::Type type, Qt::MouseButtons held) {
        QMouseEvent e(type, p, w->mapToGlobal(p), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseMove, Qt::LeftButton);
    for (int dx : steps) {
        p.rx() += dx;
        send(QEvent::MouseMove, Qt::LeftButton);
    }
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

bool near(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 60;
}

int count(const char* call) { return fake::calls(call).size(); }
}

class TestLookBack : public QObject
{
    Q_OBJECT
    QTemporaryDir m_tools;
    QScopedPointer<QTemporaryDir> m_home;
    MainWindow* w = nullptr;

    QDir home() const { return QDir(m_home->path()); }
    LookBackWidget* gallery() const { return w->lookBackWidget(); }

    void openWindow(bool realEngine)
    {
        m_home.reset(new QTemporaryDir);
        qputenv("HOME", QFile::encodeName(m_home->path()));
        EngineAdapter::setEngineFactory(realEngine ? nullptr : fake::create);
        QVERIFY(openCameraWindow(&w));
    }
    // Toggles the gallery as the thumbnail button does.
    void toggleGallery()
    {
        w->storageWatcher()->updateNameList();
        emit w->cameraMenuBar()->showLookBackWidget();
        QApplication::processEvents();
    }
    // Newest first: a video's thumbnail, a picture, a split recording's
    // thumbnail, and a thumbnail whose video is gone.
    void fillHome()
    {
        const char* names[] = {"clip.mp4_thumbnail.jpg", "pic.png", "rec_thumbnail.jpg", "gone.mp4_thumbnail.jpg"};
        for (int i = 0; i < 4; ++i)
            QVERIFY(picture(home().filePath(names[i]), kColours[i], 10 * (i + 1)));
        QVERIFY(home().mkdir("rec"));
        script(home().filePath("clip.mp4"));
        script(home().filePath("rec/rec.ts"));
    }
    void tap(int dx) { swipe(gallery(), {dx}); }

private slots:
    void initTestCase()
    {
        EngineAdapter::m_workMode = PHOTO_MODE;
        fake::setCaps({{0, 640, 480, 30}});
        // A stand-in player that records its arguments and runs until killed,
        // and one that cannot be executed.
        script(m_tools.filePath("player"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexec sleep 60\n");
        script(m_tools.filePath("broken"), "#!/nonexistent/interpreter\n");
    }
    void cleanup()
    {
        if (w) {
            w->close();
            delete w;
            w = nullptr;
        }
        LookBackWidget::setPlayerCandidates(QStringList());
        EngineAdapter::setEngineFactory(nullptr);
        EngineAdapter::m_engineState = PREVIREW;
        QFile::remove(m_tools.filePath("player.args"));
    }

    // A fast swipe glides on to the next image and centres it; a slow one
    // and one to the right of the newest snap back. Each opening starts at
    // the newest entry.
    void swipes_data()
    {
        QTest::addColumn<QVector<int>>("steps");
        QTest::addColumn<int>("index");
        QTest::newRow("fast left") << QVector<int>{-60, -60, -60, -60, -60, -60, -5} << 1;
        QTest::newRow("slow left") << QVector<int>{-30, -2} << 0;
        QTest::newRow("right of newest") << QVector<int>{60, 60, 60, 8} << 0;
        QTest::newRow("past two") << (QVector<int>(19, -80) << -2) << 3;
    }
    void swipes()
    {
        QFETCH(QVector<int>, steps);
        QFETCH(int, index);
        openWindow(false);
        fillHome();
        for (int i = 0; i < 3; ++i) // shown, hidden, shown again
            toggleGallery();
        QVERIFY(gallery()->isVisible());
        QCOMPARE(gallery()->currentImage(), 0);
        QTRY_VERIFY(near(centre(gallery()), kColours[0]));
        swipe(gallery(), steps);
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(gallery()), kColours[index]), 8000);
        QTest::qWait(2000); // glide and snap settle
        QCOMPARE(gallery()->currentImage(), index);
        QVERIFY(near(centre(gallery()), kColours[index]));
    }

    // A tap under 4 px on a video closes the engine and starts the player
    // with the video's absolute path (the folder of a split recording);
    // while it runs, captures, the gallery's hide and a second tap are
    // refused; its end prepares the engine again. Everything else starts
    // nothing, and a player that cannot start brings the preview back.
    void taps_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("dx");
        QTest::addColumn<QString>("player");
        QTest::addColumn<QString>("played");   // the player's argument, empty: none
        QTest::addColumn<QString>("box");      // title of the message shown
        QTest::addColumn<int>("closes");       // engine closes
        QTest::newRow("video, 3 px") << 0 << 3 << "player" << "clip.mp4" << "" << 1;
        QTest::newRow("video, 4 px") << 0 << 4 << "player" << "" << "" << 0;
        QTest::newRow("picture") << 1 << 0 << "player" << "" << "" << 0;
        QTest::newRow("split folder") << 2 << -2 << "player" << "rec" << "" << 1;
        QTest::newRow("video gone") << 3 << 0 << "player" << "" << "Video not found" << 0;
        QTest::newRow("no player") << 0 << 0 << "missing" << "" << "korinplayer not found" << 0;
        QTest::newRow("player fails") << 0 << 0 << "broken" << "" << "korinplayer failed" << 1;
    }
    void taps()
    {
        QFETCH(int, index);
        QFETCH(int, dx);
        QFETCH(QString, player);
        QFETCH(QString, played);
        QFETCH(QString, box);
        QFETCH(int, closes);
        openWindow(false);
        fillHome();
        LookBackWidget::setPlayerCandidates({m_tools.filePath("nowhere/korinplayer"), m_tools.filePath(player)});
        toggleGallery();
        gallery()->showOneImage(index);
        const int closed = count("close"), prepared = count("prepare");
        auto args = [this] {
            QFile f(m_tools.filePath("player.args"));
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        BoxCatcher boxes;
        tap(dx);
        QTest::qWait(300);
        QCOMPARE(count("close") - closed, closes);
        QCOMPARE(boxes.title, box);
        if (played.isEmpty()) { // a player that fails brings the preview back at once
            QVERIFY(!gallery()->playerRunning() && args().isEmpty());
            QTRY_COMPARE(count("prepare") - prepared, closes);
            return;
        }
        QTRY_COMPARE(args(), home().absoluteFilePath(played) + "\n");
        QVERIFY(gallery()->playerRunning());
        QCOMPARE(count("prepare"), prepared);

        w->sendCMDtoEngine(PHOTO_MODE);
        tap(0);
        toggleGallery();
        QTest::qWait(200);
        QCOMPARE(boxes.title, QString("korinplayer is runging"));
        QVERIFY(gallery()->isVisible());
        QCOMPARE(count("take_snapshot"), 0);
        QCOMPARE(count("close") - closed, 1);

        gallery()->findChild<QProcess*>()->kill();
        QTRY_COMPARE(count("prepare") - prepared, 1);
        toggleGallery();
        QVERIFY(!gallery()->isVisible());
    }

    // An empty folder shows nothing and ignores the mouse; pictures deleted
    // while the gallery is open leave blanks, not crashes; captures are
    // refused while it is shown, even after a mode flip, and it does not
    // open over a paused recording.
    void emptyVanishedAndRefusals()
    {
        openWindow(false);
        toggleGallery();
        QVERIFY(gallery()->isVisible());
        const QImage blank = gallery()->grab().toImage();
        swipe(gallery(), {-80, -80, -80, -80, -80, -10});
        tap(0);
        QCOMPARE(gallery()->grab().toImage(), blank);
        QCOMPARE(gallery()->currentImage(), 0);
        toggleGallery();

        fillHome();
        toggleGallery();
        QTRY_VERIFY(near(centre(gallery()), kColours[0]));
        for (const QString& name : home().entryList(QDir::Files))
            QVERIFY(home().remove(name));
        w->storageWatcher()->updateNameList();
        gallery()->showOneImage(7);
        QCOMPARE(gallery()->currentImage(), 3);
        swipe(gallery(), {80, 80, 80, 80, 80, 80, 80, 80, 80, 10});
        QTest::qWait(1500);
        QCOMPARE(gallery()->grab().toImage(), blank);

        // The capture button stays held through a mode flip while shown.
        ActionBtn* capture = w->cameraMenuBar()->snapshotButton();
        QTest::mouseClick(w->cameraMenuBar()->switchButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->cameraMenuBar()->switchButton()->m_timeLine.state(), QTimeLine::NotRunning, 3000);
        QVERIFY(capture->signalsBlocked());
        w->sendCMDtoEngine(EngineAdapter::m_workMode);
        // Nor do the settings or effects open over it.
        QTest::mouseClick(w->cameraMenuBar()->settingsButton(), Qt::LeftButton);
        QTest::mouseClick(w->cameraMenuBar()->effectsButton(), Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(count("take_snapshot") + count("start"), 0);
        QVERIFY(!w->cameraMenuBar()->appSettingsDialog() && !w->cameraMenuBar()->effectsDialog());
        toggleGallery();
        QTest::mouseClick(capture, Qt::LeftButton); // video mode now
        QTRY_COMPARE(count("start"), 1);

        EngineAdapter::m_engineState = PAUSE;
        toggleGallery();
        QVERIFY(!gallery()->isVisible());
        EngineAdapter::m_engineState = PREVIREW;
    }

    // Real engine and player: a recorded clip's thumbnail, tapped, opens the
    // clip in korinplayer; when the player is gone the preview moves again.
    void recordedClipPlays()
    {
        openWindow(true);
        EngineAdapter::m_workMode = VIDEO_MODE;
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1500);
        w->sendCMDtoEngine(VIDEO_MODE);
        EngineAdapter::m_workMode = PHOTO_MODE;
        QTRY_VERIFY_WITH_TIMEOUT(!home().entryList({"*_thumbnail.jpg"}).isEmpty(), 15000);
        const QString clip = home().entryList({"dedavevuz_*.mp4"}).value(0);
        QVERIFY(!clip.isEmpty());

        LookBackWidget::setPlayerCandidates({QCoreApplication::applicationDirPath() + "/korinplayer"});
        toggleGallery();
        tap(0);
        QTRY_VERIFY(gallery()->playerRunning());
        // The player's window names the clip once it has opened it.
        const QString title = "korinplayer -- " + QFileInfo(clip).completeBaseName();
        auto playerWindowShown = [&title] {
            QProcess tree;
            tree.start("xwininfo", {"-root", "-tree"});
            return tree.waitForFinished(5000) && QString::fromUtf8(tree.readAllStandardOutput()).contains(title);
        };
        QTRY_VERIFY_WITH_TIMEOUT(playerWindowShown(), 15000);
        QVERIFY(gallery()->playerRunning());

        gallery()->findChild<QProcess*>()->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!gallery()->playerRunning(), 10000);
        toggleGallery();
        QVERIFY(!gallery()->isVisible());
        QTest::qWait(1500);
        const QImage a = grabPreview(w->previewWidget());
        QTest::qWait(400);
        QVERIFY(a != grabPreview(w->previewWidget()));
    }
};

QTEST_MAIN(TestLookBack)
#include "tst_lookback.moc"
