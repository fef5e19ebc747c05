// Helpers for tests of the camera window and its widgets.
#ifndef WINDOW_UTIL_H
#define WINDOW_UTIL_H

#include <QApplication>
#include <QScreen>
#include <QtTest>

#include "boxcatcher.h"
#include "mainwindow.h"

// Opens a camera window in *w; true once it is on screen, its engine has
// listed capabilities and the storage watcher has measured the free space.
inline bool openCameraWindow(MainWindow** w)
{
    *w = new MainWindow(QStringList(), -1, nullptr);
    (*w)->show();
    return QTest::qWaitForWindowExposed(*w) && QTest::qWaitFor([w] {
        return (*w)->engineAdapter()->updateCapabilityCompleted() && FileSystemWatcher::getFreeSpace() > 0;
    }, 15000);
}

// Presses the capture button until the engine is in state (the window
// ignores a press while it still waits for the engine's last answer).
inline bool pressCaptureUntil(MainWindow* w, EngineState state)
{
    return QTest::qWaitFor([w, state] {
        if (EngineAdapter::m_engineState.load() == state)
            return true;
        w->sendCMDtoEngine(VIDEO_MODE);
        return false;
    }, 20000);
}

// What the screen shows where the preview is (the engine draws it natively).
inline QImage grabPreview(QWidget* p)
{
    const QPoint g = p->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), p->width(), p->height()).toImage();
}

inline QColor centre(QWidget* w)
{
    return w->grab().toImage().pixelColor(w->width() / 2, w->height() / 2);
}

// A picture of one colour, made ageSeconds old (newest are listed first).
inline bool picture(const QString& path, const QColor& c, int ageSeconds = 0)
{
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(c);
    QFile f(path);
    return img.save(path) && f.open(QIODevice::ReadWrite)
        && f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}

#endif
