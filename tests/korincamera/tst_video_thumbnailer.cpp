// The thumbnailer on clips made here: the frame position follows the
// duration, a split recording's thumbnail is named after its folder;
// missing, late, empty, corrupt, audio-only or non-regular files are
// handled; recordings the storage watcher finds without one are tried once.
#include <QtTest>
#include <thread>

#include "filesystemwatcher.h"
#include "videothumbnailer.h"

namespace {
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
}

class TestVideoThumbnailer : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    // One thumbnailer for every case, as in the program: each request must
    // stand on its own whatever the engine held before.
    VideoThumbnailer m_thumb;

private slots:
    void position_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("multifiles");
        QTest::addColumn<int>("position");
        QTest::newRow("3 s") << 3 << false << 1;
        QTest::newRow("10 s") << 10 << false << 5;
        QTest::newRow("25 s, split folder") << 25 << true << 10;
    }
    void position()
    {
        QFETCH(int, seconds);
        QFETCH(bool, multifiles);
        QFETCH(int, position);
        const QString folder = m_dir.filePath(QString("rec%1").arg(seconds));
        QVERIFY(QDir().mkpath(folder));
        const QString clip = folder + "/clip.mp4";
        QVERIFY(makeGreyClip(clip, seconds));
        QSignalSpy saved(&m_thumb, &VideoThumbnailer::imageSaved);
        m_thumb.getVideoFrame(clip, multifiles);
        QCOMPARE(saved.count(), 1);
        const QImage thumb(multifiles ? folder + "_thumbnail.jpg" : clip + "_thumbnail.jpg");
        QCOMPARE(thumb.size(), QSize(320, 240));
        QCOMPARE(secondShown(thumb), position);
        QCOMPARE(QDir(folder).entryList({"*.jpg"}).size(), multifiles ? 0 : 1);
    }

    // No thumbnail, only the log line, and the thumbnailer is free again; a
    // missing file or a folder does not get the previous video's picture.
    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("log");
        // First the two that must not fall back on the good clip still loaded.
        QTest::newRow("missing") << "missing" << "^Cannot find video file$";
        QTest::newRow("a folder") << "folder" << "^not a file!$";
        QTest::newRow("audio only") << "audio" << "^No video tracks found!$";
        QTest::newRow("zero bytes") << "empty" << "Cannot open .* to get thumbnail";
        QTest::newRow("truncated") << "truncated" << "Cannot open .* to get thumbnail";
    }
    void badInput()
    {
        QFETCH(QString, kind);
        QFETCH(QString, log);
        const QString file = m_dir.filePath("bad-" + kind + ".mp4");
        QFile f(file);
        if (kind == "audio") {
            QVERIFY(gstLaunch({"audiotestsrc", "num-buffers=100", "!", "avenc_aac", "!", "mp4mux", "!",
                               "filesink", "location=" + file}));
        } else if (kind == "empty") {
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == "truncated") {
            // The first half of a clip: its index, at the end, is gone.
            QVERIFY(makeGreyClip(file, 4));
            QVERIFY(f.resize(f.size() / 2));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(file));
        }
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(log));
        QSignalSpy saved(&m_thumb, &VideoThumbnailer::imageSaved);
        m_thumb.getVideoFrame(file, false);
        QCOMPARE(saved.count(), 0);
        QVERIFY(m_thumb.isCaptureDone());
        QVERIFY(!QFile::exists(file + "_thumbnail.jpg"));
    }

    // Found by the watcher (a split folder by its first segment), each gets
    // its picture while captures stay allowed; one that fails is not tried
    // again in this run, not even once it has become a good clip.
    void foundWithoutThumbnail()
    {
        QTemporaryDir dir;
        const QDir d(dir.path());
        QVERIFY(makeGreyClip(d.filePath("dedavevuz_1.mp4"), 3) && d.mkdir("dedavevuz_2"));
        QVERIFY(QFile::copy(d.filePath("dedavevuz_1.mp4"), d.filePath("dedavevuz_2/a.ts")));
        QFile bad(d.filePath("dedavevuz_0.mp4"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("no video here") > 0);
        bad.close();
        FileSystemWatcher watcher(dir.path());
        connect(&watcher, &FileSystemWatcher::thumbnailMissing, &m_thumb, &VideoThumbnailer::addMissingThumbnail);
        bool capturesAllowed = true;
        connect(&m_thumb, &VideoThumbnailer::imageSaved, &watcher, [&] { capturesAllowed &= m_thumb.isCaptureDone(); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot open .*dedavevuz_0.mp4 to get thumbnail"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no thumbnail for .*dedavevuz_0.mp4"));
        watcher.updateNameList();
        QTRY_VERIFY(d.exists("dedavevuz_1.mp4_thumbnail.jpg") && d.exists("dedavevuz_2_thumbnail.jpg"));
        QVERIFY(capturesAllowed); // the failed one, listed first, was tried before them

        QVERIFY(bad.remove());
        watcher.updateNameList();
        QVERIFY(QFile::copy(d.filePath("dedavevuz_1.mp4"), bad.fileName()));
        watcher.updateNameList();
        QCoreApplication::sendPostedEvents(); // where a new try would run
        QVERIFY(!d.exists("dedavevuz_0.mp4_thumbnail.jpg"));
    }

    // A recording that shows up 2 s after the request is still thumbnailed.
    void lateFile()
    {
        const QString part = m_dir.filePath("late.part"), clip = m_dir.filePath("late.mp4");
        QVERIFY(makeGreyClip(part, 4));
        std::thread mover([&] {
            QThread::sleep(2);
            QFile::rename(part, clip);
        });
        m_thumb.getVideoFrame(clip, false);
        mover.join();
        const QImage thumb(clip + "_thumbnail.jpg");
        QVERIFY(!thumb.isNull());
        QCOMPARE(secondShown(thumb), 2);
    }
};

QTEST_MAIN(TestVideoThumbnailer)
#include "tst_video_thumbnailer.moc"
