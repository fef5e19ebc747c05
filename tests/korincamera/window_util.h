// Helpers for tests of the camera window on a real display.
#ifndef WINDOW_UTIL_H
#define WINDOW_UTIL_H

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

// What the screen shows where the preview is (the engine draws it natively).
inline QImage grabPreview(QWidget* p)
{
    const QPoint g = p->mapToGlobal(QPoint(0, 0));
    return QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), p->width(), p->height()).toImage();
}

// Closes every message box that comes up, remembering the first one's title
// and text and how many there were.
struct BoxCatcher {
    QString title, text;
    int count = 0;
    QTimer timer;
    BoxCatcher()
    {
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (count++ == 0) {
                title = box->windowTitle();
                text = box->text();
            }
            box->accept();
        });
        timer.start();
    }
};

#endif
