#include "videowidget.h"

#include "colorkey.h"
#include "korinplayer.h"
#include "playcontrol.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

VideoFrame::VideoFrame(QWidget* parent)
    : QWidget(parent)
{
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QBrush(Qt::black, Qt::SolidPattern));
    pal.setBrush(QPalette::WindowText, QBrush(Qt::black, Qt::SolidPattern));
    setPalette(pal);
    setCursor(Qt::ArrowCursor);
}

void VideoFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit sizeChaned(event->size());
}

void VideoFrame::paintEvent(QPaintEvent*)
{
    ColorKey::color_key_to_qcolor(m_color);
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
}

VideoWidget::VideoWidget(QWidget* parent, korinplayer* korinWindow)
    : QWidget(parent)
    , korin(korinWindow)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::BlankCursor);
}

void VideoWidget::changeSize(QSize size)
{
    setGeometry(0, 0, size.width(), size.height());
}

void VideoWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit sizeChaned(event->size());
}

void VideoWidget::paintEvent(QPaintEvent*)
{
    if (!korin)
        return;
    QPainter painter(this);
    ColorKey::color_key_to_qcolor(color);
    painter.fillRect(0, 0, width(), height(), color);

    const QImage* image = korin->imageInfo;
    bool show = false;
    if (image && !image->isNull()) {
        if (korin->mediaType == AUDIO_TYPE)
            show = true;
        else if (korin->mediaType == VIDEO_TYPE)
            show = korin->playControl && korin->playControl->getState() != GST_STATE_PLAYING;
    }
    if (!show)
        return;
    const QPixmap pix = QPixmap::fromImage(
        image->scaled(width() / 2, height() / 2, Qt::KeepAspectRatio, Qt::FastTransformation));
    painter.drawPixmap((width() - pix.width()) / 2, height() / 4, pix);
}

void VideoWidget::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (!korin || !korin->changeFullTimer)
        return;
    // A second press within the timer's 300 ms is a double click.
    if (korin->changeFullTimer->isActive()) {
        korin->changeFullTimer->stop();
        korin->changeFullOrNormal();
    } else {
        korin->changeFullTimer->start();
    }
}
