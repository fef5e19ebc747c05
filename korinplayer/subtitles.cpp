// The window's side of subtitles: the two ways of drawing them, the external
// file beside the media, the Subtitle menu's track list.
#include "korinplayer.h"
#include "playcontrol.h"
#include "subtitlepollingthread.h"
#include "videowidget.h"

#include <QAction>
#include <QActionGroup>
#include <QDebug>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

#include <cstring>

void korinplayer::QFont2PangoFontDescription(QFont& font, QString& pangoStr)
{
    pangoStr = ::QFont2PangoFontDescription(font);
}

void korinplayer::stopSubtitleThread()
{
    if (subtitleThread && subtitleThread->isRunning())
        subtitleThread->stopAndWait();
}

void korinplayer::startSubtitleThread()
{
    if (!subtitleThread || !engine || subtitleThread->isRunning())
        return;
    subtitleThread->setPlayengine(engine);
    subtitleThread->clear_need_quit();
    subtitleThread->start(QThread::InheritPriority);
    qDebug("subtitleThread Started");
}

void korinplayer::hideSubtitle()
{
    if (subtitle_disp_timer)
        subtitle_disp_timer->stop();
    if (subtitle)
        subtitle->hide();
    shownSubtitlePts = ~quint64(0);
}

QRect korinplayer::subtitleArea() const
{
    QRect area = videoWidget->geometry();
    if (isFullScreen() && showBarInFull && playControl && playControl->isVisible()) {
        const QPoint top = centralWidget->mapFromGlobal(playControl->mapToGlobal(QPoint(0, 0)));
        area.setBottom(top.y());
    }
    return area;
}

void korinplayer::placeSubtitle(bool show)
{
    if (!render_subtitle_by_ui || !subtitle)
        return;
    subtitle->updateGeometry(subtitleArea());
    // Shown again only while its line's time runs.
    if (show && subtitle_disp_timer && subtitle_disp_timer->isActive()) {
        subtitle->show();
        subtitle->raise();
    }
}

void korinplayer::initRenderSubtitleWays()
{
    if (!render_subtitle_by_ui) {
        if (subtitleThread)
            subtitleThread->set_need_quit();
        hideSubtitle();
        return;
    }
    if (!subtitle_disp_timer) {
        subtitle_disp_timer = new QTimer(this);
        subtitle_disp_timer->setSingleShot(true);
        // Only the widget goes: the line it showed is not shown again.
        connect(subtitle_disp_timer, &QTimer::timeout, this, [this] {
            subtitle_disp_timer->stop();
            if (subtitle)
                subtitle->hide();
        });
    }
    if (!subtitleThread) {
        subtitleThread = new SubtitlePollingThread;
        subtitleThread->setPlayengine(engine);
        connect(subtitleThread, &SubtitlePollingThread::updateSubtitle, this, &korinplayer::subtitle_disp,
                Qt::QueuedConnection);
    } else if (!subtitleThread->isRunning()) {
        subtitleThread->setPlayengine(engine);
    }
    if (!subtitle) {
        subtitle = new SubTitleWidget(centralWidget);
        // Its own X window, so that it stays above the video's.
        subtitle->setAttribute(Qt::WA_NativeWindow);
        subtitle->setFont(subtitle_font);
        subtitle->setColor(subtitle_color);
        subtitle->hide();
    }
}

void korinplayer::subtitle_disp(QByteArray text, quint64 pts, quint64 dur)
{
    // A line still queued when playback stopped is dropped.
    if (!render_subtitle_by_ui || !subtitle_on || text.isEmpty() || !subtitle
        || playControl->getState() == GST_STATE_NULL)
        return;
    // The thread sends the current line every poll; its time runs from the
    // first one; once it is over the line stays hidden.
    if (pts == shownSubtitlePts)
        return;
    shownSubtitlePts = pts;
    subtitle->setText(text);
    subtitle_disp_timer->start(subtitleDisplayMs(dur));
    placeSubtitle(true);
}

void korinplayer::adjustSubRenderByGst(SubPosition pos)
{
    if (!engine || pos < 0 || pos >= TOTAL_SUB_POS)
        return;
    static const SubtitleHAlign h[] = {SUBTITLE_H_ALIGN_LEFT, SUBTITLE_H_ALIGN_CENTER, SUBTITLE_H_ALIGN_RIGHT};
    static const SubtitleVAlign v[] = {SUBTITLE_V_ALIGN_TOP, SUBTITLE_V_ALIGN_CENTER, SUBTITLE_V_ALIGN_BASELINE};
    engine->set_subtitle_halignment(engine, h[pos % 3], 0.0);
    engine->set_subtitle_valignment(engine, v[pos / 3], 0.0);
}

void korinplayer::tryLoadLocalSubtitle(const QString& filename)
{
    if (render_subtitle_by_ui)
        hideSubtitle();
    external_subtitle_loaded = false;
    if (!engine)
        return;
    QString found;
    // Local files only; the extension is cut within the file name.
    if (!filename.isEmpty()) {
        const QFileInfo media(filename);
        const QString name = media.fileName();
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString base = media.path() + QLatin1Char('/') + (dot > 0 ? name.left(dot) : name);
        for (const char* ext : {".srt", ".SRT"}) {
            if (QFileInfo(base + QLatin1String(ext)).isFile()) {
                found = base + QLatin1String(ext);
                break;
            }
        }
    }
    if (found.isEmpty()) {
        engine->set_subtitle_uri(engine, nullptr);
        return;
    }
    if (engine->set_subtitle_uri(engine, found.toUtf8().constData()) != PLAYENGINE_SUCCESS) {
        qWarning() << "subtitle file not taken:" << found;
        return;
    }
    external_subtitle_loaded = true;
    qDebug().noquote() << "subtitle ON : " + found;
    subtitle_on = true;
}

void korinplayer::followEngineSubtitle()
{
    // A file's own subtitle track is on screen as soon as it is loaded.
    gint cur = -1;
    subtitle_on = engine && engine->get_cur_subtitle_no(engine, &cur) == PLAYENGINE_SUCCESS && cur >= 0;
}

void korinplayer::fillSubtitleMenu()
{
    const bool byEngine = !render_subtitle_by_ui;
    if (QAction* outline = menuSubtitle->findChild<QAction*>(QStringLiteral("SubOutlineColorAction")))
        outline->setEnabled(byEngine);
    if (QMenu* pos = menuSubtitle->findChild<QMenu*>(QStringLiteral("SubPosMenu")))
        pos->setEnabled(byEngine);

    gint count = 0, cur = -1;
    if (engine) {
        if (engine->get_metadata(engine, &metadata) != PLAYENGINE_SUCCESS)
            std::memset(&metadata, 0, sizeof metadata);
        if (engine->get_subtitle_num(engine, &count) != PLAYENGINE_SUCCESS || count < 0)
            count = 0;
    }
    if (subtitleTrackGroup) {
        for (QAction* a : subtitleTrackGroup->actions()) {
            disconnect(a, nullptr, this, nullptr);
            menuSubtitle->removeAction(a);
            delete a;
        }
        delete subtitleTrackGroup;
        subtitleTrackGroup = nullptr;
    }
    subtitleTrackGroup = new QActionGroup(menuSubtitle);
    subtitleTrackGroup->setObjectName(QStringLiteral("SubtitleTracks"));
    subtitleTrackGroup->setExclusive(true);
    QAction* off = new QAction(tr("Subtitle Off"), subtitleTrackGroup);
    off->setCheckable(true);
    menuSubtitle->addAction(off);
    connect(off, &QAction::triggered, this, [this] {
        qDebug("subtitle OFF");
        subtitle_on = false;
        if (render_subtitle_by_ui)
            hideSubtitle();
        else if (engine)
            engine->select_subtitle(engine, -1);
    });
    const int known = qMin(count, KORIN_METADATA_MAX_TRACKS);
    QList<QAction*> tracks;
    for (int i = 0; i < count; ++i) {
        const gchar* lang = metadata.subtitle_info[qMin(i, known - 1)].language;
        const QString language =
            i < known ? QString::fromUtf8(lang, int(qstrnlen(lang, sizeof metadata.subtitle_info[0].language)))
                      : QString();
        QAction* a = new QAction(QString::asprintf("Subtitle %d: %s", i + 1, language.toUtf8().constData()),
                                 subtitleTrackGroup);
        a->setCheckable(true);
        a->setData(i);
        menuSubtitle->addAction(a);
        tracks << a;
        connect(a, &QAction::triggered, this, [this, a] {
            if (!engine)
                return;
            const int index = a->data().toInt();
            engine->select_subtitle(engine, index);
            qDebug() << "subtitle ON : " << index;
            subtitle_on = true;
        });
    }
    if (subtitle_on && count > 0 && engine && engine->get_cur_subtitle_no(engine, &cur) == PLAYENGINE_SUCCESS
        && cur >= 0 && cur < count)
        tracks.at(cur)->setChecked(true);
    else
        off->setChecked(true);
}
