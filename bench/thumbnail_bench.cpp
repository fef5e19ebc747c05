// Time from a thumbnail request to the thumbnail file written, with the
// thumbnailer on a thread of its own as in the camera.
// Usage: thumbnail_bench VIDEO [RUNS]; prints one line per run, in ms.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "videothumbnailer.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: %s VIDEO [RUNS]\n", argv[0]);
        return 2;
    }
    const QString video = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString thumbName = video + "_thumbnail.jpg";
    const int runs = argc > 2 ? atoi(argv[2]) : 5;

    QThread thread;
    std::unique_ptr<VideoThumbnailer> thumb(new VideoThumbnailer);
    thumb->moveToThread(&thread);
    thread.start();
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        QFile::remove(thumbName);
        QEventLoop loop;
        QObject::connect(thumb.get(), &VideoThumbnailer::imageSaved, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        QMetaObject::invokeMethod(thumb.get(), "getVideoFrame", Qt::QueuedConnection, Q_ARG(QString, video),
                                  Q_ARG(bool, false));
        loop.exec();
        const double ms = t.nsecsElapsed() / 1e6;
        if (!QFile::exists(thumbName)) {
            fprintf(stderr, "run %d: no thumbnail written\n", i + 1);
            ++failed;
            continue;
        }
        printf("%.1f\n", ms);
    }
    thread.quit();
    thread.wait();
    return failed ? 1 : 0;
}
