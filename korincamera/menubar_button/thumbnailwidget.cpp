#include "thumbnailwidget.h"

#include <QDebug>
#include <QPainter>
#include <QPixmap>

ThumbnailButton::ThumbnailButton(QWidget* parent)
    : QToolButton(parent)
    , refreshImageTimer(new QTimer)
{
    setStyleSheet("QToolButton {border: none;min-height: 60px;min-width:60px}");
    refreshImageTimer->setInterval(1000);
    connect(refreshImageTimer, &QTimer::timeout, this, &ThumbnailButton::refreshImage);
}

ThumbnailButton::~ThumbnailButton()
{
    delete refreshImageTimer;
}

void ThumbnailButton::setImageToShow(QString path)
{
    filename = path;
    if (!path.isEmpty()) {
        m_imgToShow.load(path);
        if (m_imgToShow.isNull())
            refreshImageTimer->start();
    } else {
        m_imgToShow = QImage();
    }
    update();
}

void ThumbnailButton::refreshImage()
{
    qDebug("refreshImage");
    if (++retryCount > 5) {
        refreshImageTimer->stop();
        retryCount = 0;
    }
    m_imgToShow.load(filename);
    if (!m_imgToShow.isNull()) {
        refreshImageTimer->stop();
        update();
    }
}

void ThumbnailButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_imgToShow.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QPixmap pix = QPixmap::fromImage(
        m_imgToShow.scaled(size(), Qt::KeepAspectRatio, Qt::FastTransformation));
    painter.drawPixmap(QRect(0, 0, width(), height()), pix);
}
