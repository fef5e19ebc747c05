#include "iconbuttons.h"

#include <QPainter>

namespace {
void paintIcon(QWidget* w, const QImage& icon)
{
    QPainter painter(w);
    painter.drawImage(0, 0, icon.scaled(w->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
}
}

EffectSettings::EffectSettings(QWidget* parent)
    : QToolButton(parent)
    , m_icon(":/image/effects.png")
{
    setStyleSheet("QToolButton {border: none;min-height: 60px;min-width:60px}");
}

void EffectSettings::paintEvent(QPaintEvent*)
{
    paintIcon(this, m_icon);
}

AppSettings::AppSettings(QWidget* parent)
    : QToolButton(parent)
    , m_icon(":/image/settings.png")
{
    setStyleSheet("QToolButton {border: none;min-height: 65px;min-width:65px}");
}

void AppSettings::paintEvent(QPaintEvent*)
{
    paintIcon(this, m_icon);
}
