// What the camera shows of its recordings: thumbnails of clips made here and
// of bad files; the gallery and menu bar over a scripted engine, with
// stand-in players; a recording whose process was killed, with real engines.
#include <QtTest>
#include <csignal>

#include "fake_recorder.h"
#include "lookbackwidget.h"
#include "menubar.h"
#include "playcheck.h"
#include "previewwidget.h"
#include "videothumbnailer.h"
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

// Press in the middle, move by each step, release where the last one ended.
void swipe(QWidget* w, const QVector<int>& steps)
{
    QPoint p(w->width() / 2, w->height() / 2);
    auto send = [w, &p](QEvent::Type type, int dx = 0) {
        p.rx() += dx;
        QMouseEvent e(type, p, w->mapToGlobal(p), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress);
    for (int dx : QVector<int>{0} + steps)
        send(QEvent::MouseMove, dx);
    send(QEvent::MouseButtonRelease);
}

bool near(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 60;
}

// Each second of the clips below is one plain grey frame of this level.
int levelOf(int second) { return 20 + 9 * second; }
int secondShown(const QImage& thumb)
{
    // Read away from the play mark in the top-left corner.
    return qRound((qGray(thumb.pixel(thumb.width() - 20, thumb.height() - 20)) - 20) / 9.0);
}

bool gstLaunch(const QStringList& args)
{
    QProcess p;
    p.start("gst-launch-1.0", QStringList("-q") + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool makeGreyClip(const QString& path, int seconds)
{
    QTemporaryDir frames;
    for (int s = 0; s < seconds; ++s) {
        QImage img(320, 240, QImage::Format_RGB32);
        img.fill(QColor(levelOf(s), levelOf(s), levelOf(s)));
        if (!img.save(frames.filePath(QString::asprintf("f%03d.png", s))))
            return false;
    }
    return gstLaunch({"multifilesrc", "location=" + frames.filePath("f%03d.png"), "caps=image/png,framerate=1/1",
                      "!", "pngdec", "!", "videoconvert", "!", "video/x-raw,format=I420", "!", "x264enc",
                      "speed-preset=ultrafast", "key-int-max=1", "!", "mp4mux", "!", "filesink", "location=" + path});
}
int count(const char* call) { return fake::calls(call).size(); }

// True once the gallery neither glides nor snaps.
bool settled(QWidget* gallery)
{
    const QList<QTimeLine*> lines = gallery->findChildren<QTimeLine*>();
    return std::all_of(lines.begin(), lines.end(), [](QTimeLine* t) { return t->state() == QTimeLine::NotRunning; });
}

}

class TestCameraReview : public QObject
{
    Q_OBJECT
    QTemporaryDir m_tools;
    QScopedPointer<QTemporaryDir> m_home;
    MainWindow* w = nullptr;
    QTemporaryDir m_dir;
    VideoThumbnailer m_thumb; // one for all, as in the program


    QDir home() const { return QDir(m_home->path()); }
    LookBackWidget* gallery() const { return w->lookBackWidget(); }
    CameraMenuBar* bar() const { return w->cameraMenuBar(); }
    void openWindow(bool realEngine)
    {
        EngineAdapter::setEngineFactory(realEngine ? nullptr : fake::create);
        QVERIFY(openCameraWindow(&w));
    }
    // Toggles the gallery as the thumbnail button does.
    void toggleGallery()
    {
        w->storageWatcher()->updateNameList();
        emit bar()->showLookBackWidget();
        QApplication::processEvents();
    }
    // Newest first: thumbnails of a video and a split recording around a picture, one of a gone video.
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
    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // What the stand-in player was given.
    QString args() const { return QString::fromUtf8(contents(m_tools.filePath("player.args"))); }

private slots:
    void initTestCase()
    {
        fake::setCaps({{0, 640, 480, 30}});
        // A player that notes its arguments and runs until killed; one that cannot run.
        script(m_tools.filePath("player"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nexec sleep 60\n");
        script(m_tools.filePath("broken"), "#!/nonexistent/interpreter\n");
    }
    void init()
    {
        EngineAdapter::m_workMode = PHOTO_MODE;
        m_home.reset(new QTemporaryDir);
        qputenv("HOME", QFile::encodeName(m_home->path()));
    }
    void cleanup()
    {
        if (w)
            w->close();
        delete std::exchange(w, nullptr);
        LookBackWidget::setPlayerCandidates(QStringList());
        EngineAdapter::setEngineFactory(nullptr);
        EngineAdapter::m_engineState = PREVIREW;
    }

    // The frame comes from half the duration, at most 10 s in; a split
    // recording's thumbnail goes beside its folder.
    void thumbnails()
    {
        const struct { int seconds; bool multifiles; int position; } rows[] = {{3, 0, 1}, {10, 0, 5}, {25, 1, 10}};
        for (const auto& row : rows) {
            const QString folder = m_dir.filePath(QString("rec%1").arg(row.seconds));
            const QString clip = folder + "/clip.mp4";
            QVERIFY(QDir().mkpath(folder) && makeGreyClip(clip, row.seconds));
            QSignalSpy saved(&m_thumb, &VideoThumbnailer::imageSaved);
            m_thumb.getVideoFrame(clip, row.multifiles);
            QCOMPARE(saved.count(), 1);
            const QImage thumb(row.multifiles ? folder + "_thumbnail.jpg" : clip + "_thumbnail.jpg");
            QCOMPARE(thumb.size(), QSize(320, 240));
            QCOMPARE(secondShown(thumb), row.position);
        }
        // Bad files: only the log line, no picture (not the one of the clip still loaded).
        const QString audio = m_dir.filePath("audio.mp4"), empty = m_dir.filePath("empty.mp4"),
                      cut = m_dir.filePath("cut.mp4"), folder = m_dir.filePath("folder.mp4");
        QVERIFY(gstLaunch({"audiotestsrc", "num-buffers=100", "!", "avenc_aac", "!", "mp4mux", "!", "filesink",
                           "location=" + audio}));
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly) && QDir().mkdir(folder));
        QVERIFY(makeGreyClip(cut, 4) && QFile(cut).resize(QFileInfo(cut).size() / 2)); // its index is gone
        const QPair<QString, const char*> bad[] = {
            {m_dir.filePath("missing.mp4"), "^Cannot find video file$"}, {folder, "^not a file!$"},
            {audio, "^No video tracks found!$"}, {empty, "Cannot open .* to get thumbnail"},
            {cut, "Cannot open .* to get thumbnail"}};
        for (const auto& row : bad) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(row.second));
            QSignalSpy saved(&m_thumb, &VideoThumbnailer::imageSaved);
            m_thumb.getVideoFrame(row.first, false);
            QVERIFY(saved.isEmpty() && m_thumb.isCaptureDone() && !QFile::exists(row.first + "_thumbnail.jpg"));
        }
    }

    // A fast swipe glides on and centres the next image; a slow one, or one
    // right of the newest, snaps back. Each opening starts at the newest.
    void swipes()
    {
        openWindow(false);
        fillHome();
        toggleGallery();
        const QPair<QVector<int>, int> rows[] = {{{-60, -60, -60, -60, -60, -60, -5}, 1}, {{-30, -2}, 0},
                                                 {{60, 60, 60, 8}, 0}, {QVector<int>(19, -80) << -2, 3}};
        for (const auto& row : rows) {
            toggleGallery(); // hidden, shown again
            toggleGallery();
            QTRY_VERIFY(gallery()->currentImage() == 0 && near(centre(gallery()), kColours[0]));
            swipe(gallery(), row.first);
            QTRY_VERIFY_WITH_TIMEOUT(settled(gallery()), 10000);
            QVERIFY(gallery()->currentImage() == row.second && near(centre(gallery()), kColours[row.second]));
        }
    }

    // A tap under 4 px on a video closes the engine and plays its path (a
    // split recording's folder); while the player runs, captures, hiding and
    // a second tap are refused; its end, or a failed start, prepares the
    // engine again.
    void taps()
    {
        openWindow(false);
        fillHome();
        toggleGallery();
        const struct { int index, dx; const char *player, *played, *box; int closes; } rows[] = {
            {0, 3, "player", "clip.mp4", "", 1}, {0, 4, "player", "", "", 0}, {1, 0, "player", "", "", 0},
            {2, -2, "player", "rec", "", 1}, {3, 0, "player", "", "Video not found", 0},
            {0, 0, "missing", "", "korinplayer not found", 0}, {0, 0, "broken", "", "korinplayer failed", 1}};
        for (const auto& row : rows) {
            LookBackWidget::setPlayerCandidates({m_tools.filePath("none"), m_tools.filePath(row.player)});
            gallery()->showOneImage(row.index);
            QFile::remove(m_tools.filePath("player.args"));
            const int closed = count("close"), prepared = count("prepare");
            BoxCatcher boxes;
            tap(row.dx);
            QTRY_COMPARE(boxes.title, QString(row.box)); // a failed start is reported after the tap
            QCOMPARE(count("close") - closed, row.closes);
            if (!*row.played) { // a player that fails brings the preview back at once
                QVERIFY(!gallery()->playerRunning() && args().isEmpty());
                QTRY_COMPARE(count("prepare") - prepared, row.closes);
                continue;
            }
            QTRY_COMPARE(args(), home().absoluteFilePath(row.played) + "\n");
            QSignalSpy snaps(w, &MainWindow::sendSnapShotCmd);
            w->sendCMDtoEngine(PHOTO_MODE);
            tap(0);
            toggleGallery();
            QCOMPARE(boxes.title, QString("korinplayer is runging"));
            QVERIFY(gallery()->isVisible() && snaps.isEmpty());
            QVERIFY(count("close") - closed == 1 && count("prepare") == prepared);
            gallery()->findChild<QProcess*>()->kill();
            QTRY_COMPARE(count("prepare") - prepared, 1);
        }
        toggleGallery();
        QVERIFY(!gallery()->isVisible());
    }

    // Empty or emptied folders show blanks and ignore the mouse. Captures,
    // settings and effects are refused under the gallery, also after a mode
    // flip, presses during a flip are lost; no flip while recording, no
    // gallery over a pause. A picture named before it exists reaches the button.
    void emptyVanishedAndRefusals()
    {
        openWindow(false);
        QCOMPARE(centre(bar()->thumbnailButton()), QColor(Qt::black));
        toggleGallery();
        const QImage blank = gallery()->grab().toImage();
        swipe(gallery(), {-80, -80, -80, -80, -80, -10});
        tap(0);
        QVERIFY(gallery()->grab().toImage() == blank && gallery()->currentImage() == 0);
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
        QTRY_VERIFY(settled(gallery()));
        QCOMPARE(gallery()->grab().toImage(), blank);

        ActionBtn* capture = bar()->snapshotButton();
        QTimeLine* flip = &bar()->switchButton()->m_timeLine;
        QSignalSpy presses(bar(), &CameraMenuBar::takeSnapShotBtn);
        QTest::mouseClick(bar()->switchButton(), Qt::LeftButton);
        QTest::mouseClick(capture, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(flip->state(), QTimeLine::NotRunning, 3000);
        QVERIFY(capture->signalsBlocked() && presses.isEmpty());
        QSignalSpy snaps(w, &MainWindow::sendSnapShotCmd), starts(w, &MainWindow::sendStartRecordingCmd);
        w->sendCMDtoEngine(EngineAdapter::m_workMode);
        QTest::mouseClick(bar()->settingsButton(), Qt::LeftButton);
        QTest::mouseClick(bar()->effectsButton(), Qt::LeftButton);
        QVERIFY(snaps.isEmpty() && starts.isEmpty() && !bar()->appSettingsDialog() && !bar()->effectsDialog());
        toggleGallery();
        QTest::mouseClick(capture, Qt::LeftButton);
        QCOMPARE(presses.last().at(0).toInt(), int(VIDEO_MODE));
        QTRY_COMPARE(EngineAdapter::m_engineState.load(), RUNNING);
        QTest::mouseClick(bar()->switchButton(), Qt::LeftButton);
        QCOMPARE(flip->state(), QTimeLine::NotRunning);
        emit w->previewWidget()->clicked();
        QTRY_COMPARE(EngineAdapter::m_engineState.load(), PAUSE);
        toggleGallery();
        QVERIFY(!gallery()->isVisible());
        QTest::mouseClick(bar()->switchButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_workMode.load(), PHOTO_MODE, 3000);
        emit bar()->changeThumbnailImage("late.png"); // named before it is written: retried
        QVERIFY(picture(home().filePath("late.png"), Qt::blue));
        QTRY_COMPARE_WITH_TIMEOUT(centre(bar()->thumbnailButton()), QColor(Qt::blue), 5000);
    }

    // A killed recording plays but has no thumbnail: one is made at start-up,
    // shown and played; then the preview moves again. Recordings found later
    // get theirs while a capture goes on; a failed one is not tried again.
    void killedRecording()
    {
        const QString clip = home().filePath("dedavevuz_20260101_120000.mp4");
        QProcess recorder;
        recorder.start(QCoreApplication::applicationDirPath() + "/capture-record", {"-o", clip, "-d", "0"});
        QTRY_VERIFY_WITH_TIMEOUT(checkPlays(clip).seconds >= 2, 30000);
        ::kill(pid_t(recorder.processId()), SIGKILL);
        QVERIFY(recorder.waitForFinished(5000) && recorder.exitStatus() == QProcess::CrashExit);
        QVERIFY(checkPlays(clip).seconds >= 2);
        const QString broken = home().filePath("dedavevuz_20260101_110000.mp4"); // listed, so tried, first
        script(broken, "no video here");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no thumbnail for .*110000.mp4"));

        openWindow(true);
        // Complete once it ends with the JPEG end marker.
        QTRY_VERIFY_WITH_TIMEOUT(contents(clip + "_thumbnail.jpg").endsWith("\xFF\xD9"), 20000);
        const QImage thumb(clip + "_thumbnail.jpg");
        QTRY_VERIFY(centre(bar()->thumbnailButton()) != QColor(Qt::black)); // the newest picture
        toggleGallery();
        QTRY_VERIFY(near(centre(gallery()), thumb.pixelColor(thumb.width() / 2, thumb.height() / 2)));
        LookBackWidget::setPlayerCandidates({m_tools.filePath("player")});
        tap(0);
        QTRY_COMPARE(args(), clip + "\n");
        gallery()->findChild<QProcess*>()->kill();
        QTRY_VERIFY_WITH_TIMEOUT(!gallery()->playerRunning(), 10000);
        toggleGallery();
        const QImage before = grabPreview(w->previewWidget());
        QTRY_VERIFY_WITH_TIMEOUT(grabPreview(w->previewWidget()) != before, 10000);

        QVERIFY(QFile::remove(broken));
        w->storageWatcher()->updateNameList();
        QVERIFY(QFile::copy(clip, broken));
        w->storageWatcher()->updateNameList(); // reported again, before the ones below
        QVERIFY(QFile::copy(clip, home().filePath("dedavevuz_20260101_120001.mp4")));
        QVERIFY(home().mkdir("dedavevuz_20260101_120010"));
        QVERIFY(QFile::copy(clip, home().filePath("dedavevuz_20260101_120010/dedavevuz_20260101_120010.ts")));
        // The thumbnailer's thread waits in imageSaved while the capture is asked.
        QSignalSpy snaps(w, &MainWindow::sendSnapShotCmd);
        auto during = connect(w->videoThumbnailer(), &VideoThumbnailer::imageSaved, this,
                              [this] { w->sendCMDtoEngine(PHOTO_MODE); }, Qt::BlockingQueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(home().exists("dedavevuz_20260101_120001.mp4_thumbnail.jpg")
                                     && home().exists("dedavevuz_20260101_120010_thumbnail.jpg"), 20000);
        disconnect(during);
        QCOMPARE(snaps.count(), 1);
        QTRY_COMPARE(home().entryList({"dedavevuz_????????_??????.jpg"}).size(), 1);
        QVERIFY(!QFile::exists(broken + "_thumbnail.jpg"));
    }
};

QTEST_MAIN(TestCameraReview)
#include "tst_camera_review.moc"
