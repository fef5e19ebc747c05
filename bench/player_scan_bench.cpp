// Times a folder scan of korinplayer on the tree named by SCAN_TREE and the
// longest stall of the user-interface thread meanwhile; prints
// "<ms to the batch> <ms longest stall> <playlist size>".
#include "korinplayer.h"
#include "loadstylesheet.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <cstdio>
int main(int argc, char** argv)
{
    // The tree comes in SCAN_TREE: an argument would be scanned by the
    // window's own command line as well.
    QApplication app(argc, argv);
    initPlayerResources();
    korinplayer w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 2;
    QTest::qWait(500);
    QElapsedTimer clock;
    qint64 last = 0, stall = 0, done = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        stall = qMax(stall, now - last - 2000000);
        last = now;
    });
    QObject::connect(w.playlist, &QMediaPlaylist::mediaInserted, [&] { done = clock.nsecsElapsed(); });
    clock.start();
    tick.start(2);
    w.startReadDir(QString::fromLocal8Bit(qgetenv("SCAN_TREE")), false, true);
    while (done < 0 && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // A little more to catch what the insertion costs the views.
    QTest::qWait(200);
    std::printf("%.1f %.1f %d\n", done / 1e6, stall / 1e6, w.playlist->mediaCount());
    return done < 0;
}
