#include "iconbuttons.h"

#include <QPainter>

IconButton::IconButton(const QString& icon, int side, QWidget* parent)
    : QToolButton(parent)
    , m_icon(icon)
{
    setStyleSheet(QStringLiteral("QToolButton {border: none;min-height: %1px;min-width:%1px}").arg(side));
}

void IconButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_icon.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
}
