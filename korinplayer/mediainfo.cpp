// The window's side of the media information panel and of the picture shown
// for audio files.
#include "korinplayer.h"
#include "mediainfowidget.h"
#include "videowidget.h"

#include <QDebug>
#include <QLabel>

#include <climits>
#include <cstring>

void korinplayer::showMediaInfo()
{
    if (!engine || engine->get_metadata(engine, &metadata) != PLAYENGINE_SUCCESS)
        std::memset(&metadata, 0, sizeof metadata);
    if (infoWidget) {
        delete infoWidget;
        infoWidget = nullptr;
        if (renderVideoWidget)
            renderVideoWidget->update();
        return;
    }
    infoWidget = new MediaInfoWidget(centralWidget);
    // Its own X window, so that it stays above the video's.
    infoWidget->setAttribute(Qt::WA_NativeWindow);
    infoWidget->setGeometry(0, 10, 350, 275);
    infoWidget->repaint();

    gint64 duration = -1;
    const QString durationText = engine && engine->get_duration(engine, &duration) == PLAYENGINE_SUCCESS
                                         && duration >= 0
                                     ? QString::number(duration / 1000000000LL) + QLatin1Char('s')
                                     : QStringLiteral("unknown");
    gboolean seekable = FALSE;
    const QString seekText = engine && engine->get_seekable(engine, &seekable) == PLAYENGINE_SUCCESS
                                 ? QLatin1String(seekable ? "Yes" : "No")
                                 : QStringLiteral("unknown");
    infoWidget->infoLabel()->setText(MediaInfoWidget::describe(metadata, durationText, seekText));
    infoWidget->show();
    infoWidget->raise();
}

void korinplayer::updateInfo()
{
    // A failed fetch leaves nothing of the previous file behind.
    if (!engine || engine->get_metadata(engine, &metadata) != PLAYENGINE_SUCCESS)
        std::memset(&metadata, 0, sizeof metadata);
    if (metadata.n_video >= 1) {
        mediaType = VIDEO_TYPE;
    } else if (metadata.n_audio >= 1) {
        mediaType = AUDIO_TYPE;
        deleteImageInfo();
        imageInfo = new QImage;
        const korin_album_art_info& art = metadata.album_art_info;
        if (art.image && art.size > 0 && art.size <= gsize(INT_MAX))
            imageInfo->loadFromData(art.image, int(art.size));
        if (imageInfo->isNull())
            imageInfo->load(QStringLiteral(":/image/album-art-missing.png"));
        if (renderVideoWidget)
            renderVideoWidget->update();
    } else {
        mediaType = UNKNOW_TYPE;
    }
    if (infoWidget)
        updateMediaInfo = true;
}
