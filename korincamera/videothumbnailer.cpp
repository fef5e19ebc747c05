#include "videothumbnailer.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>
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
}

void VideoThumbnailer::setFilePath(QString file)
{
    path = file;
    QFileInfo info(file);
    for (int check = 1; !info.exists(); ++check) {
        if (check >= 5) {
            qWarning("Cannot find video file");
            return;
        }
        QThread::sleep(1);
        info.refresh();
    }
    if (!info.isFile()) {
        qWarning("not a file!");
        return;
    }
    engine->set_file(engine, info.absoluteFilePath().toUtf8().constData());
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
    if (!info.image || info.height <= 0) {
        qDebug("get video thumbnail failed");
        return -1;
    }
    const int bytesPerLine = int(info.size / gsize(info.height));
    img = QSharedPointer<QImage>::create(info.image, info.width, info.height, bytesPerLine,
                                         QImage::Format_RGB888);
    return img->isNull() ? -1 : 0;
}

void VideoThumbnailer::getVideoFrame(QString filename, bool multifiles)
{
    captureDone.store(false);
    QString thumbName;
    if (multifiles)
        thumbName = QFileInfo(filename).absolutePath() + "_thumbnail.jpg";
    else
        thumbName = filename + "_thumbnail.jpg";

    // Without an engine there is nothing to decode with.
    if (engine) {
        setFilePath(filename);
        if (openMedia() == 0) {
            if (metadata.n_video < 1) {
                qWarning("No video tracks found!");
            } else {
                const int position = duration <= 10000000000LL ? int(duration / 2000000000LL) : 10;
                if (captureFrame(position) == 0) {
                    // The play mark over the frame's corner comes with the
                    // camera's image resources.
                    if (img->save(thumbName))
                        emit imageSaved();
                    else
                        qWarning() << "cannot write" << thumbName;
                }
            }
        }
        closeMedia();
        img.reset(); // its pixels belonged to the engine until the stop
    }
    captureDone.store(true);
}
