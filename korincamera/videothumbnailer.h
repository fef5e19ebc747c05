#ifndef VIDEOTHUMBNAILER_H
#define VIDEOTHUMBNAILER_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
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
    // The picture's name for a video (for the folder of a split recording
    // when multifiles).
    static QString thumbnailName(const QString& filename, bool multifiles);

signals:
    void imageSaved();

public slots:
    void getVideoFrame(QString filename, bool multifiles);
    // A recording found without its picture: made after the requests
    // already waiting, without holding back captures, and tried once.
    void addMissingThumbnail(QString filename, bool multifiles);

private:
    struct Request {
        QString filename;
        bool multifiles;
    };

    bool makeThumbnail(const QString& filename, bool multifiles);
    void makeNextMissing();
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
    QSet<QString> tried;      // thumbnail names, made or failed, this run
    QList<Request> missing;   // waiting to be made
};

#endif
