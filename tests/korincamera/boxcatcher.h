// Answers the modal dialogs of a given class that come up, remembering the
// first one's title and (for a message box) its text, and how many came.
#ifndef BOXCATCHER_H
#define BOXCATCHER_H

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

struct BoxCatcher {
    QString title, text;
    int count = 0;
    QTimer timer;
    // act answers a dialog; by default it is accepted.
    explicit BoxCatcher(const char* type = "QMessageBox", std::function<void(QDialog*)> act = {})
    {
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [this, type, act] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box || !box->inherits(type))
                return;
            if (count++ == 0) {
                title = box->windowTitle();
                text = box->property("text").toString();
            }
            act ? act(box) : box->accept();
        });
        timer.start();
    }
};

#endif
