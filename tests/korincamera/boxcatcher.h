// Answers the next modal dialog of a given class that comes up, remembering
// its title and (for a message box) its text.
#ifndef BOXCATCHER_H
#define BOXCATCHER_H

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

struct BoxCatcher {
    QString title, text;
    QTimer timer;
    // act answers the dialog; by default it is accepted.
    explicit BoxCatcher(const char* type = "QMessageBox", std::function<void(QDialog*)> act = {})
    {
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [this, type, act] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box || !box->inherits(type))
                return;
            timer.stop();
            title = box->windowTitle();
            text = box->property("text").toString();
            if (act)
                act(box);
            else
                box->accept();
        });
        timer.start();
    }
};

#endif
