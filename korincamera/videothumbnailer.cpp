#include "videothumbnailer.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <cstring>

VideoThumbnailer::VideoThumbnailer(QObject* parent)
    : QObject(parent)
{
    memset(&metadata, 0, sizeof metadata);
    captureDone.store(true);
    setUpPipeline();
}

VideoThumbnailer::~VideoThumbnailer()
{
    qDebug("exit");
    if (engine) {
        engine->stop_wait_state_change(engine);
        play_engine_destroy(engine);
        engine = nullptr;
    }
    img.reset();
}

void VideoThumbnailer::setUpPipeline()
{
    engine = play_engine_create();
    if (!engine) {
        qDebug("Create playengine failed");
        return;
    }
    engine->set_text_sink(engine, "appsink");
    engine->set_video_sink(engine, "fakesink");
    // It never plays: an audio device opened for each picture only costs
    // time and memory.
    engine->set_audio_sink(engine, "fakesink");
}

// False when the file never appeared or is not a regular file: the engine
// would still hold the previous video.
bool VideoThumbnailer::setFilePath(QString file)
{
    path = file;
    QFileInfo info(file);
    for (int check = 1; !info.exists(); ++check) {
        if (check >= 5) {
            qWarning("Cannot find video file");
            return false;
        }
        QThread::sleep(1);
        info.refresh();
    }
    if (!info.isFile()) {
        qWarning("not a file!");
        return false;
    }
    engine->set_file(engine, info.absoluteFilePath().toUtf8().constData());
    return true;
}

int VideoThumbnailer::openMedia()
{
    if (engine->pause(engine) != PLAYENGINE_SUCCESS) {
        qWarning() << "Cannot open " + path + " to get thumbnail";
        return -1;
    }
    engine->get_metadata(engine, &metadata);
    engine->get_duration(engine, &duration);
    return 0;
}

int VideoThumbnailer::closeMedia()
{
    if (engine->stop(engine) != PLAYENGINE_SUCCESS) {
        qWarning("Cannot close file");
        return -1;
    }
    return 0;
}

int VideoThumbnailer::captureFrame(int position)
{
    korin_image_info info;
    memset(&info, 0, sizeof info);
    engine->get_video_thumbnail(engine, position, &info);
    if (!info.image || info.height <= 0 || info.width <= 0) {
        qDebug("get video thumbnail failed");
        return -1;
    }
    const gsize bytesPerLine = info.size / gsize(info.height);
    if (bytesPerLine < gsize(info.width) * 3) {
        qDebug("get video thumbnail failed");
        return -1;
    }
    // Read-only: painting on it makes Qt copy instead of writing into the
    // engine's buffer.
    img = QSharedPointer<QImage>::create(static_cast<const uchar*>(info.image), info.width, info.height,
                                         int(bytesPerLine), QImage::Format_RGB888);
    return img->isNull() ? -1 : 0;
}

static int initResources()
{
    Q_INIT_RESOURCE(korincamera);
    return 0;
}

// Covers the frame's top-left corner with the play mark, pixel for pixel
// (what lies outside a smaller frame is left out).
void VideoThumbnailer::stampPlayMark(QImage& frame)
{
    static const int resources = initResources();
    Q_UNUSED(resources);
    const QImage mark = QImage(":/image/play.png").convertToFormat(QImage::Format_RGB888);
    if (mark.isNull())
        return;
    const int w = qMin(mark.width(), frame.width());
    const int h = qMin(mark.height(), frame.height());
    for (int y = 0; y < h; ++y)
        memcpy(frame.scanLine(y), mark.constScanLine(y), size_t(w) * 3);
}

QString VideoThumbnailer::thumbnailName(const QString& filename, bool multifiles)
{
    return (multifiles ? QFileInfo(filename).absolutePath() : filename) + "_thumbnail.jpg";
}

void VideoThumbnailer::getVideoFrame(QString filename, bool multifiles)
{
    captureDone.store(false);
    tried.insert(thumbnailName(filename, multifiles));
    makeThumbnail(filename, multifiles);
    captureDone.store(true);
}

void VideoThumbnailer::addMissingThumbnail(QString filename, bool multifiles)
{
    const QString thumbName = thumbnailName(filename, multifiles);
    if (tried.contains(thumbName))
        return;
    tried.insert(thumbName);
    missing.append({filename, multifiles});
    if (missing.size() == 1)
        QMetaObject::invokeMethod(this, &VideoThumbnailer::makeNextMissing, Qt::QueuedConnection);
}

// One at a time, each queued behind whatever was asked meanwhile: a
// recording just stopped gets its picture before older ones.
void VideoThumbnailer::makeNextMissing()
{
    if (missing.isEmpty())
        return;
    const Request r = missing.takeFirst();
    // A request made while this one waited may have written it already.
    if (!QFileInfo::exists(thumbnailName(r.filename, r.multifiles)) && !makeThumbnail(r.filename, r.multifiles))
        qWarning() << "no thumbnail for" << r.filename << "- it is not tried again";
    if (!missing.isEmpty())
        QMetaObject::invokeMethod(this, &VideoThumbnailer::makeNextMissing, Qt::QueuedConnection);
}

// True once the picture is written.
bool VideoThumbnailer::makeThumbnail(const QString& filename, bool multifiles)
{
    bool saved = false;
    // Without an engine there is nothing to decode with.
    if (engine && setFilePath(filename)) {
        if (openMedia() == 0) {
            if (metadata.n_video < 1) {
                qWarning("No video tracks found!");
            } else {
                const int position = duration <= 10000000000LL ? int(duration / 2000000000LL) : 10;
                if (captureFrame(position) == 0) {
                    stampPlayMark(*img);
                    const QString thumbName = thumbnailName(filename, multifiles);
                    // Written aside and then renamed: the storage watcher
                    // must never list a half-written picture.
                    const QString part = thumbName + ".part";
                    saved = img->save(part, "JPG")
                        && ::rename(QFile::encodeName(part).constData(), QFile::encodeName(thumbName).constData()) == 0;
                    if (saved) {
                        emit imageSaved();
                    } else {
                        QFile::remove(part);
                        qWarning() << "cannot write" << thumbName;
                    }
                }
            }
        }
        closeMedia();
        img.reset(); // its pixels belonged to the engine until the stop
    }
    return saved;
}
