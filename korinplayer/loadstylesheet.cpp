#include "loadstylesheet.h"

#include <QFile>
#include <QWidget>

void loadStyleSheet(const QString& name, QWidget* widget)
{
    if (!widget)
        return;
    QFile file(QStringLiteral(":/qss/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    if (content.isNull())
        return;
    widget->setStyleSheet(QString::fromLatin1(content));
}

static void registerResources()
{
    Q_INIT_RESOURCE(korinplayer);
}

void initPlayerResources()
{
    registerResources();
}
