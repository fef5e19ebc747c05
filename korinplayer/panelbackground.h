#ifndef KORIN_PANELBACKGROUND_H
#define KORIN_PANELBACKGROUND_H

#include <QPainter>
#include <QWidget>

#include "colorkey.h"

// Fills a control panel grey, or, when its window is full screen, with the
// colour key (kept in color) so the video shows around the panel's widgets.
inline void paintPanelBackground(QWidget* panel, QColor& color)
{
    QPainter painter(panel);
    if (panel->parentWidget() && panel->parentWidget()->isFullScreen()) {
        ColorKey::color_key_to_qcolor(color);
        painter.fillRect(panel->rect(), color);
    } else {
        painter.fillRect(panel->rect(), Qt::gray);
    }
}

#endif
