#ifndef VIDEOTHUMBNAILER_H
#define VIDEOTHUMBNAILER_H

#include <QImage>
#include <QObject>
#include <QSharedPointer>
#include <atomic>

#include "playengine.h"

// Makes a still picture of each recording with a play engine of its own,
// on its own thread.
class VideoThumbnailer : public QObject
{
    Q_OBJECT
public:
    explicit VideoThumbnailer(QObject* parent = nullptr);
    ~VideoThumbnailer() override;
    bool isCaptureDone() const { return captureDone.load(); }

signals:
    void imageSaved();

public slots:
    void getVideoFrame(QString filename, bool multifiles);

private:
    void setUpPipeline();
    bool setFilePath(QString file);
    int openMedia();
    int closeMedia();
    int captureFrame(int position);
    static void stampPlayMark(QImage& frame);

    QSharedPointer<QImage> img;
    std::atomic<bool> captureDone{true};
    korin_metadata metadata;
    gint64 duration = 0;
    QString path;
    PlayEngine* engine = nullptr;
};

#endif
