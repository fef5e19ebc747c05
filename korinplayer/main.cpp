#include "appargs.h"
#include "korinplayer.h"
#include "loadstylesheet.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QTextCodec>
#include <glib.h>

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

    AppArgs args(argc, argv);
    QApplication app(args.count(), args.values());
    initPlayerResources();
    app.setFont(QFont(QStringLiteral("Times"), 14, QFont::Bold));

    QFile sheet(QStringLiteral(":/qss/qscroolbar.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromLatin1(sheet.readAll()));

    korinplayer window;
    window.show();
    return app.exec();
}
