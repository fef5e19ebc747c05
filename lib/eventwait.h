#ifndef KORIN_EVENTWAIT_H
#define KORIN_EVENTWAIT_H

#include <QEventLoop>
#include <QTimer>

// Lets the user-interface thread go on handling events for ms milliseconds
// (queued signals from worker threads included) before returning.
inline void waitWithEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

#endif
