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
    // The widgets draw without OpenGL. Qt's GLX integration would load the GL
    // driver on this thread while the window is built; the play engine loads
    // it on a thread of its own while the window waits to play.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");

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
