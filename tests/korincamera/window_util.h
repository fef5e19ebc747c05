// Helpers for tests of the camera window on a real display.
#ifndef WINDOW_UTIL_H
#define WINDOW_UTIL_H

#include <QApplication>
#include <QScreen>

#include "boxcatcher.h"

// What the screen shows where the preview is (the engine draws it natively).
inline QImage grabPreview(QWidget* p)
{
    const QPoint g = p->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), p->width(), p->height()).toImage();
}

#endif
