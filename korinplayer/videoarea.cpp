// The video area: render rectangle, view entries, thumbnails, full screen.
#include "korinplayer.h"
#include "playcontrol.h"
#include "playlistwidget.h"
#include "sliderbar.h"
#include "videowidget.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {
void warn(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Close);
    box.exec();
}
} // namespace

void korinplayer::adjustRenderRect(QSize size)
{
    wait(20);
    // Resizes come in bursts and this runs later: the window's size now
    // is the one that counts.
    if (renderVideoWidget)
        size = renderVideoWidget->size();
    if (!engine)
        return;
    const DisplayArea area{0, 0, size.width(), size.height()};
    engine->set_render_rect(engine, area);
    engine->expose_video(engine);
    if (renderVideoWidget)
        renderVideoWidget->update();
}

void korinplayer::rotate(int degree)
{
    if (engine)
        engine->set_rotate(engine, degree);
}

void korinplayer::resizeRender(int fraction)
{
    if (!renderVideoWidget || fraction <= 0)
        return;
    const int vw = videoWidget->width(), vh = videoWidget->height();
    if (fraction == 1) {
        renderVideoWidget->setGeometry(0, 0, vw, vh);
    } else {
        const int w = vw / fraction, h = vh / fraction;
        renderVideoWidget->setGeometry(vw / 2 - w / 2, (vh - h) / 2, w, h);
    }
    adjustRenderRect(renderVideoWidget->size());
}

void korinplayer::moveRender(int dx, int dy)
{
    if (!renderVideoWidget)
        return;
    const int vw = videoWidget->width(), vh = videoWidget->height();
    const QRect r = renderVideoWidget->geometry();
    int x = r.x(), y = r.y();
    if (dx < 0)
        x = x <= 50 ? 0 : x - 50;
    else if (dx > 0)
        x = x + r.width() < vw - 50 ? x + 50 : vw - r.width();
    if (dy < 0)
        y = y <= 50 ? 0 : y - 50;
    else if (dy > 0)
        y = y + r.height() < vh - 50 ? y + 50 : vh - r.height();
    renderVideoWidget->move(x, y);
    wait(20);
    if (renderVideoWidget)
        adjustRenderRect(renderVideoWidget->size());
}

void korinplayer::aspectEntry(int entry)
{
    if (!renderVideoWidget)
        return;
    const int vw = videoWidget->width(), vh = videoWidget->height();
    if (entry != 2) {
        renderVideoWidget->setGeometry(0, 0, vw, vh);
        adjustRenderRect(QSize(vw, vh));
        adjustAspectPlayPos(entry == 0 ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
        return;
    }
    // A track number outside the table counts as no metadata.
    gint cur = -1;
    if (engine && engine->get_cur_video_no(engine, &cur) != PLAYENGINE_SUCCESS)
        cur = -1;
    int width = 0, height = 0;
    if (cur >= 0 && cur < qMin<int>(metadata.n_video, KORIN_METADATA_MAX_TRACKS)) {
        width = metadata.video_info[cur].width;
        height = metadata.video_info[cur].height;
    }
    if (width <= 0 || height <= 0) {
        warn(QStringLiteral("Wrong video resolution: %1 X %2").arg(width).arg(height));
        return;
    }
    if (width > vw || height > vh) {
        warn(QStringLiteral("This function only for those video which resolution less then video widget "
                            "resolution"));
        return;
    }
    renderVideoWidget->setGeometry((vw - width) / 2, (vh - height) / 2, width, height);
    adjustRenderRect(QSize(width, height));
}

void korinplayer::adjustAspectPlayPos(Qt::AspectRatioMode mode)
{
    if (mode != Qt::KeepAspectRatio && mode != Qt::IgnoreAspectRatio) {
        qWarning("unknow aspect ratio");
        return;
    }
    if (!engine)
        return;
    engine->force_ratio(engine, mode == Qt::KeepAspectRatio);
    if (m_preSink == OVERLAYSINK) {
        engine->set_rotate(engine, rotation);
    } else if (renderVideoWidget) {
        // Nudge the window so the sink redraws with the new ratio.
        const QSize size = renderVideoWidget->size();
        renderVideoWidget->resize(size.width() - 1, size.height() - 1);
        wait(100);
        if (renderVideoWidget)
            renderVideoWidget->resize(size);
    }
}

int korinplayer::getVideoThumbnail()
{
    if (!engine)
        return PLAYENGINE_FAILURE;
    korin_image_info info{};
    const int result = engine->get_video_thumbnail(engine, 5, &info);
    if (result == PLAYENGINE_SUCCESS) {
        deleteImageInfo();
        // Rows are padded: bytes per line = size / height. Copy, as the
        // engine's buffer goes away on stop.
        const qsizetype stride = info.height > 0 ? qsizetype(info.size / gsize(info.height)) : 0;
        if (info.image && info.width > 0 && info.height > 0 && stride >= 3 * qsizetype(info.width)) {
            const QImage view(info.image, info.width, info.height, int(stride), QImage::Format_RGB888);
            imageInfo = new QImage(view.copy());
        }
        if (imageInfo && !imageInfo->isNull()) {
            isThumbnailShown = true;
            if (renderVideoWidget)
                renderVideoWidget->repaint();
            return 0;
        }
        deleteImageInfo();
        warn(QStringLiteral("Get video thumbnail failed."));
        return PLAYENGINE_FAILURE;
    }
    if (result == PLAYENGINE_ERROR_NOT_SUPPORT) {
        mediaType = AUDIO_TYPE; // no video track
        return result;
    }
    qWarning("Get video thumbnail failed.\n");
    warn(QStringLiteral("Get video thumbnail failed."));
    return result;
}

void korinplayer::changeFullOrNormal()
{
    if (isFullScreen()) {
        playControl->fullScreenBtn->setIcon(QIcon(QStringLiteral(":image/full-screen.png")));
        playControl->fullScreenBtn->setIconSize(QSize(42, 42));
        changetoNormal();
    } else {
        changetoFull();
        showBarInFull = false;
        playControl->fullScreenBtn->setIcon(QIcon(QStringLiteral(":image/unfull-screen.png")));
        playControl->fullScreenBtn->setIconSize(QSize(42, 42));
    }
    if (playlistWidget->isVisible()) {
        playlistWidget->hide();
        showPlaylist();
    }
}

void korinplayer::changetoFull()
{
    videoWidgetSizeBeforeFull = videoWidget->size();
    disconnect(videoWidget, &VideoFrame::sizeChaned, renderVideoWidget, &VideoWidget::changeSize);
    disconnect(renderVideoWidget, &VideoWidget::sizeChaned, this, &korinplayer::adjustRenderRect);
    sliderBar->hide();
    playControl->hide();
    blankWidget->hide();
    if (menuWidget())
        menuWidget()->hide();
    playlistWidget->hide();
    if (render_subtitle_by_ui && subtitle)
        subtitle->hide();
    showFullScreen();
    for (int i = 0; i < 12 && videoWidget->height() != window_h; ++i)
        wait(10);
    const QSize size(videoWidget->width(), videoWidget->height() - 1);
    if (renderVideoWidget) {
        renderVideoWidget->changeSize(size);
        adjustRenderRect(size);
    }
    placeSubtitle(true);
}

void korinplayer::changetoNormal()
{
    panelDisappearInFull->stop();
    if (menuWidget() && menuWidget()->isHidden()) {
        playControl->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        sliderBar->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        menuWidget()->setWindowFlags(Qt::WindowStaysOnTopHint);
        sliderBar->show();
        playControl->show();
        blankWidget->show();
        menuWidget()->show();
    }
    showNormal();
    for (int i = 0; i < 12 && videoWidget->height() != videoWidgetSizeBeforeFull.height(); ++i)
        wait(10);
    if (!renderVideoWidget)
        return;
    renderVideoWidget->changeSize(videoWidget->size());
    adjustRenderRect(videoWidget->size());
    // UniqueConnection: a second leave never doubles the links.
    connect(videoWidget, &VideoFrame::sizeChaned, renderVideoWidget, &VideoWidget::changeSize,
            Qt::UniqueConnection);
    connect(renderVideoWidget, &VideoWidget::sizeChaned, this, &korinplayer::adjustRenderRect,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
}

void korinplayer::panelInFullscreen(bool isShow)
{
    if (!isFullScreen())
        return;
    if (isShow) {
        sliderBar->show();
        playControl->show();
        sliderBar->raise();
        playControl->raise();
        panelDisappearInFull->start();
    } else {
        sliderBar->hide();
        playControl->hide();
        panelDisappearInFull->stop();
        if (renderVideoWidget)
            renderVideoWidget->update();
    }
    placeSubtitle(false);
}

void korinplayer::changeControlBarPos(QSize)
{
    // The bars float at the bottom of the window over the blank strip:
    // the slider lowest, the control bar directly above it.
    const int x = blankWidget->x(), H = height();
    const int w = blankWidget->isVisible() ? blankWidget->width() : centralWidget->width();
    const int sh = sliderBar->sizeHint().height(), ph = playControl->sizeHint().height();
    sliderBar->setGeometry(x, H - sh, w, sh);
    playControl->setGeometry(x, H - sh - ph, w, ph);
    sliderBar->raise();
    playControl->raise();
    placeSubtitle(false);
}
