#include <QApplication>
#include <vector>

#include "startup.h"
#include "mainwindow.h"

int main(int argc, char* argv[])
{
    completeEnvironment();

    // The toolkit keeps argv for the application's whole life: it lives in
    // main's frame, argc + 1 arguments and the terminating null.
    static char nograb[] = "-nograb";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nograb);
    args.push_back(nullptr);
    int newArgc = argc + 1;
    QApplication app(newArgc, args.data());

    int firstCamera = -1;
    const QStringList cameras = findCameras(QStringLiteral("/dev"), &firstCamera);

    MainWindow* w = new MainWindow(cameras, firstCamera, nullptr);
    w->show();
    const int ret = app.exec();
    delete w;
    return ret;
}
