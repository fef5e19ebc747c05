// The thumbnailer on clips made here: the frame position follows the
// duration, a split recording's thumbnail is named after its folder, and
// missing, late, empty, corrupt, audio-only or non-regular files are handled.
#include <QtTest>
#include <thread>

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
    // The frame comes from half the duration, at most 10 s in; a split
    // recording's thumbnail goes beside its folder.
    void position()
    {
        const struct { int seconds; bool multifiles; int position; } rows[] = {{3, false, 1}, {10, false, 5},
                                                                              {25, true, 10}};
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
    }

    // No thumbnail, only the log line, and the thumbnailer is free again; a
    // missing file or a folder does not get the picture of the clip the
    // engine still holds.
    void badInput()
    {
        const QString audio = m_dir.filePath("audio.mp4"), empty = m_dir.filePath("empty.mp4"),
                      cut = m_dir.filePath("cut.mp4"), folder = m_dir.filePath("folder.mp4");
        QVERIFY(gstLaunch({"audiotestsrc", "num-buffers=100", "!", "avenc_aac", "!", "mp4mux", "!", "filesink",
                           "location=" + audio}));
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly) && QDir().mkdir(folder));
        QVERIFY(makeGreyClip(cut, 4) && QFile(cut).resize(QFileInfo(cut).size() / 2)); // its index is gone
        const QPair<QString, const char*> rows[] = {
            {m_dir.filePath("missing.mp4"), "^Cannot find video file$"}, {folder, "^not a file!$"},
            {audio, "^No video tracks found!$"}, {empty, "Cannot open .* to get thumbnail"},
            {cut, "Cannot open .* to get thumbnail"}};
        for (const auto& row : rows) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(row.second));
            QSignalSpy saved(&m_thumb, &VideoThumbnailer::imageSaved);
            m_thumb.getVideoFrame(row.first, false);
            QVERIFY(saved.isEmpty() && m_thumb.isCaptureDone() && !QFile::exists(row.first + "_thumbnail.jpg"));
        }
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
