#include "previewwidget.h"

#include <QMouseEvent>
#include <QResizeEvent>

#include "colorkey.h"

PreviewWidget::PreviewWidget(QWidget* parent)
    : QWidget(parent)
{
    setAutoFillBackground(true);
    QColor key;
    ColorKey::color_key_to_qcolor(key);
    setBackgroundColor(key);
}

void PreviewWidget::setBackgroundColor(QColor c)
{
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(c, Qt::SolidPattern));
    setPalette(pal);
}

void PreviewWidget::resizeEvent(QResizeEvent* event)
{
    emit sizeChanged(event->size());
    event->ignore();
}

void PreviewWidget::mousePressEvent(QMouseEvent* event)
{
    // A tap on the preview pauses or resumes a recording.
    event->accept();
    emit clicked();
}
