#include "korinplayer.h"
#include "loadstylesheet.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QTextCodec>
#include <glib.h>

#include <vector>

int main(int argc, char* argv[])
{
    if (!g_getenv("DISPLAY"))
        g_setenv("DISPLAY", ":0", TRUE);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    // Keyboard and pointer are never grabbed: the camera may have started us.
    static char nograb[] = "-nograb";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nograb);
    args.push_back(nullptr);
    int count = argc + 1;
    QApplication app(count, args.data());
    initPlayerResources();
    app.setFont(QFont(QStringLiteral("Times"), 14, QFont::Bold));

    QFile sheet(QStringLiteral(":/qss/qscroolbar.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromLatin1(sheet.readAll()));

    korinplayer window;
    window.show();
    return app.exec();
}
