#include <QApplication>

#include "appargs.h"
#include "startup.h"
#include "mainwindow.h"

int main(int argc, char* argv[])
{
    limitMallocArenas();
    completeEnvironment();

    AppArgs args(argc, argv);
    QApplication app(args.count(), args.values());

    int firstCamera = -1;
    const QStringList cameras = findCameras(QStringLiteral("/dev"), &firstCamera);

    MainWindow* w = new MainWindow(cameras, firstCamera, nullptr);
    w->show();
    const int ret = app.exec();
    delete w;
    return ret;
}
