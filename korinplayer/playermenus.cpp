// The menu row, its entries, the file and folder dialogs, About.
#include "korinplayer.h"
#include "mediainfowidget.h"
#include "opendirdlg.h"
#include "playcontrol.h"
#include "playlistmodel.h"
#include "playlistwidget.h"
#include "videowidget.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QColorDialog>
#include <QDir>
#include <QFontDialog>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstring>

namespace {
const char* const kSinkNames[] = {"overlaysink", "glimagesink", "korinv4lsink", "ximagesink"};
const VideoSink kSinks[] = {OVERLAYSINK, GLIMAGESINK, KORINV4l2SINK, XIMAGESINK};

// Fixed-size text field of the engine's metadata, never read past its end.
template <size_t N>
QString field(const gchar (&text)[N])
{
    return QString::fromUtf8(text, int(qstrnlen(text, N)));
}
} // namespace

void korinplayer::createMenuBar()
{
    subtitle_font = QFont(QStringLiteral("Sans"), 18, QFont::Bold);
    subtitle_color = Qt::white;
    subtitle_outline_color = Qt::white;
    subtitle_shaded_background = false;
    subPos = BUTTON_CENTRAL;

    auto* bar = new MenuBar(this);
    bar->setObjectName(QStringLiteral("menuBar"));
    bar->setCursor(Qt::ArrowCursor);
    bar->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout(bar);
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, 0);

    auto addButton = [&](const QString& text, const char* menuName) {
        auto* button = new QToolButton(bar);
        button->setText(text);
        button->setAutoRaise(true);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setCursor(Qt::ArrowCursor);
        button->setStyleSheet(QStringLiteral(
            "QToolButton {border: none;min-height: 45px;min-width:50px} "
            "QToolButton::menu-indicator{image:None;} QToolButton:pressed{background-color: white}"));
        auto* menu = new QMenu(button);
        if (menuName)
            menu->setObjectName(QLatin1String(menuName));
        button->setMenu(menu);
        row->addWidget(button);
        return menu;
    };

    QMenu* file = addButton(tr("File"), nullptr);
    connect(file->addAction(tr("Open File")), &QAction::triggered, this, [this] { openFile(true); });
    connect(file->addAction(tr("Open Folder")), &QAction::triggered, this, [this] { openDir(true); });
    connect(file->addAction(tr("Playlist")), &QAction::triggered, this, &korinplayer::showPlaylist);
    file->addSeparator();
    connect(file->addAction(tr("Quit")), &QAction::triggered, this, &QWidget::close);

    QMenu* rot = addButton(tr("Rotate"), "menuRotate");
    for (int i = 0; i < 4; ++i)
        connect(rot->addAction(tr("Rotate %1").arg(i * 90)), &QAction::triggered, this, [this, i] {
            rotation = i * 90;
            rotate(rotation);
        });

    QMenu* size = addButton(tr("Resize"), "menuResize");
    const int fractions[] = {1, 2, 4};
    const char* sizeNames[] = {"Full Window", "1/2 Center", "1/4 Center"};
    for (int i = 0; i < 3; ++i)
        connect(size->addAction(tr(sizeNames[i])), &QAction::triggered, this,
                [this, f = fractions[i]] { resizeRender(f); });

    QMenu* move = addButton(tr("Move"), "menuMove");
    move->parentWidget()->setObjectName(QStringLiteral("menuMoveBtn"));
    const struct {
        const char* text;
        int dx, dy;
    } moves[] = {{"Move Left", -1, 0}, {"Move Right", 1, 0}, {"Move Up", 0, -1}, {"Move Down", 0, 1}};
    for (const auto& m : moves)
        connect(move->addAction(tr(m.text)), &QAction::triggered, this,
                [this, dx = m.dx, dy = m.dy] { moveRender(dx, dy); });

    menuVideo = addButton(tr("Video Track"), "menuVideo");
    connect(menuVideo, &QMenu::aboutToShow, this, [this] { fillTrackMenu(menuVideo, true); });
    menuAudio = addButton(tr("Audio Track"), "menuAudio");
    connect(menuAudio, &QMenu::aboutToShow, this, [this] { fillTrackMenu(menuAudio, false); });

    menuSubtitle = addButton(tr("Subtitle"), "menuSubtitle");
    connect(menuSubtitle->addAction(tr("Subtitle Font ...")), &QAction::triggered, this, [this] {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, subtitle_font, this, tr("Select subtitle font"));
        if (!ok)
            return;
        subtitle_font = font;
        if (!render_subtitle_by_ui) {
            QString pango;
            QFont2PangoFontDescription(subtitle_font, pango);
            if (engine)
                engine->set_subtitle_font(engine, pango.toUtf8().constData());
        } else if (subtitle) {
            subtitle->setFont(subtitle_font);
            subtitle->updateGeometry(subtitleArea());
        }
    });
    connect(menuSubtitle->addAction(tr("Subtitle Color ...")), &QAction::triggered, this, [this] {
        const QColor color = QColorDialog::getColor(subtitle_color, this, tr("Select subtitle color"));
        if (!color.isValid())
            return;
        subtitle_color = color;
        if (render_subtitle_by_ui) {
            if (subtitle)
                subtitle->setColor(subtitle_color);
        } else if (engine) {
            engine->set_subtitle_color(engine, subtitle_color.rgba());
        }
    });
    QAction* outline = menuSubtitle->addAction(tr("Subtitle Outline Color ..."));
    outline->setObjectName(QStringLiteral("SubOutlineColorAction"));
    connect(outline, &QAction::triggered, this, [this] {
        const QColor color = QColorDialog::getColor(subtitle_outline_color, this, tr("Select subtitle color"));
        if (!color.isValid())
            return;
        subtitle_outline_color = color;
        if (engine)
            engine->set_subtitle_outline_color(engine, subtitle_outline_color.rgba());
    });
    QMenu* pos = menuSubtitle->addMenu(tr("Adjust Sub Position"));
    pos->setObjectName(QStringLiteral("SubPosMenu"));
    auto* posGroup = new QActionGroup(pos);
    posGroup->setExclusive(true);
    const char* posNames[] = {"Top Left",    "Top Central",   "Top Right",
                              "Central Left", "Central",       "Central Right",
                              "Button Left", "Button Central", "Button Right"};
    for (int i = 0; i < TOTAL_SUB_POS; ++i) {
        QAction* a = pos->addAction(tr(posNames[i]));
        a->setCheckable(true);
        a->setData(i);
        a->setChecked(i == subPos);
        posGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] {
            subPos = SubPosition(i);
            adjustSubRenderByGst(subPos);
        });
    }
    menuSubtitle->addSeparator();
    connect(menuSubtitle, &QMenu::aboutToShow, this, &korinplayer::fillSubtitleMenu);

    QMenu* aspect = addButton(tr("Aspect"), "menuAspect");
    const char* aspectNames[] = {"Original Ratio", "Full Fill", "Original Size"};
    for (int i = 0; i < 3; ++i)
        connect(aspect->addAction(tr(aspectNames[i])), &QAction::triggered, this, [this, i] { aspectEntry(i); });

    QMenu* option = addButton(tr("Option"), "menuOption");
    auto addSwitch = [&](const QString& text, const char* name, bool on, bool* flag) {
        QAction* a = option->addAction(text);
        a->setObjectName(QLatin1String(name));
        a->setCheckable(true);
        a->setChecked(on);
        if (flag)
            connect(a, &QAction::toggled, this, [flag](bool checked) { *flag = checked; });
        return a;
    };
    addSwitch(tr("Accurate Seek"), "menuAccurate", false, &accurateSeek);
    addSwitch(tr("Get Thumbnail First"), "menuGetThumbnail", isGetThumbnail, &isGetThumbnail);
    addSwitch(tr("Recursion Dir"), "menuRecursionDir", isRecursionDir, &isRecursionDir);
    menuRenderSubOpt = addSwitch(tr("Render Subtitle by UI"), "menuRenderSubOpt", render_subtitle_by_ui, nullptr);
    connect(menuRenderSubOpt, &QAction::triggered, this, [this] {
        renderSubWaysChanged = true;
        if (playControl->getState() == GST_STATE_NULL)
            reCreatePipeline();
    });
    QMenu* sinks = option->addMenu(tr("Choose Video sink"));
    sinks->setObjectName(QStringLiteral("menuVideoSink"));
    buildSinkMenu(sinks);

    QMenu* aboutMenu = addButton(tr("About"), "menuAbout");
    QAction* aboutAction = aboutMenu->addAction(tr("About"));
    aboutAction->setObjectName(QStringLiteral("menuAbout"));
    connect(aboutAction, &QAction::triggered, this, &korinplayer::about);

    row->addStretch();
    setMenuWidget(bar);
}

void korinplayer::buildSinkMenu(QMenu* menu)
{
    const VideoSink detected = detectSOC();
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    QList<QPair<QString, VideoSink>> entries;
    for (int i = 0; i < 4; ++i)
        if (m_useSinks & unsigned(kSinks[i]))
            entries << qMakePair(QString::fromLatin1(kSinkNames[i]), kSinks[i]);
    if (entries.isEmpty())
        entries << qMakePair(QStringLiteral("unkonwn sink"), UNKONWNSINK);
    for (const auto& e : entries) {
        QAction* a = menu->addAction(e.first);
        a->setCheckable(true);
        a->setChecked(e.second == detected);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, sink = e.second] {
            m_sink = sink;
            // While something is loaded the change waits for the next stop.
            if (playControl->getState() == GST_STATE_NULL)
                reCreatePipeline();
        });
    }
}

void korinplayer::fillTrackMenu(QMenu* menu, bool video)
{
    QActionGroup*& group = video ? videoTrackGroup : audioTrackGroup;
    gint count = 0, cur = -1;
    if (engine) {
        if (engine->get_metadata(engine, &metadata) != PLAYENGINE_SUCCESS)
            std::memset(&metadata, 0, sizeof metadata);
        if ((video ? engine->get_video_num(engine, &count) : engine->get_audio_num(engine, &count))
            != PLAYENGINE_SUCCESS)
            count = 0;
        if ((video ? engine->get_cur_video_no(engine, &cur) : engine->get_cur_audio_no(engine, &cur))
            != PLAYENGINE_SUCCESS)
            cur = -1;
    }
    if (group) {
        for (QAction* a : group->actions()) {
            disconnect(a, nullptr, this, nullptr);
            delete a;
        }
        delete group;
        group = nullptr;
        menu->clear();
    }
    if (count <= 0)
        return;
    group = new QActionGroup(menu);
    group->setExclusive(true);
    const int known = qMin(video ? metadata.n_video : metadata.n_audio, KORIN_METADATA_MAX_TRACKS);
    for (int i = 0; i < count; ++i) {
        // Languages are known for the first tracks only.
        QString language = QStringLiteral("unknown");
        if (i < known) {
            language = video ? field(metadata.video_info[i].language) : field(metadata.audio_info[i].language);
            if (language.isEmpty())
                language = QStringLiteral("unknown");
        }
        QAction* a = new QAction(video ? tr("Video %1: language: %2").arg(i + 1).arg(language)
                                       : tr("Audio %1: %2").arg(i + 1).arg(language),
                                 group);
        a->setCheckable(true);
        a->setChecked(i == cur);
        a->setData(i);
        menu->addAction(a);
        connect(a, &QAction::triggered, this, [this, a, video] {
            if (!engine)
                return;
            const int track = a->data().toInt();
            if (video)
                engine->select_video(engine, track);
            else
                engine->select_audio(engine, track);
        });
    }
}

void korinplayer::openFile(bool byPlaylist)
{
    QFileDialog dialog(this, tr("Open media file"), dirPath.isEmpty() ? QStringLiteral(".") : dirPath);
    dialog.setNameFilters(
        {QStringLiteral("Media files(*.mp4 *.mov *.f4v *.rm *.rmvb *.3gp *.avi *.wmv *.asf *.mkv *.flv *.mpg *.vob "
                        "*.ts *.m2ts *.mpeg *.aac *.adts *.wav *.flac *.ogg *.m4a *.wma *.mka *.mp3 *.webm)"),
         QStringLiteral("All (*)")});
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    if (auto* list = dialog.findChild<QListView*>(QStringLiteral("listView")))
        list->setDragEnabled(false);
    if (auto* tree = dialog.findChild<QTreeView*>())
        tree->setDragEnabled(false);
    if (infoWidget)
        infoWidget->hide();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (infoWidget)
        infoWidget->show();
    if (!accepted)
        return;
    if (byPlaylist)
        deleteImageInfo();
    const QStringList files = dialog.selectedFiles();
    dialog.hide();
    repaint();
    if (renderVideoWidget)
        renderVideoWidget->repaint();
    openFiles(files, byPlaylist);
}

void korinplayer::openFiles(const QStringList& files, bool playIt)
{
    if (files.isEmpty())
        return;
    if (playIt)
        stop();
    if (!isConnect)
        prepareBeforePlay(playControl);
    // All are appended in order; only the last is loaded and played.
    addToPlaylist(playIt ? QStringList(files.mid(0, files.size() - 1)) : files);
    if (playIt)
        addFile(files.last(), true);
}

void korinplayer::openDir(bool playNow)
{
    auto* dialog = new OpenDirDlg(this, dirPath);
    connect(dialog, &OpenDirDlg::selectedPath, this, [this](const QString& path) { dirPath = path; });
    if (infoWidget)
        infoWidget->hide();
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (infoWidget)
        infoWidget->show();
    if (accepted) {
        // A folder chosen here that holds nothing to play is reported.
        const QString folder = dirPath;
        connect(startReadDir(folder, playNow, isRecursionDir), &ReadDir::foundNothing, this, [this, folder] {
            QMessageBox::information(this, tr("Open Folder"),
                                     tr("No audio or video files in %1").arg(QDir::toNativeSeparators(folder)));
        });
    }
    dialog->hide();
    delete dialog;
    repaint();
}

void korinplayer::showPlaylist()
{
    playlistWidget->setVisible(!playlistWidget->isVisible());
    if (render_subtitle_by_ui && subtitle) {
        wait(20);
        subtitle->updateGeometry(subtitleArea());
    }
    if (renderVideoWidget)
        renderVideoWidget->repaint();
}

void korinplayer::about()
{
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(QStringLiteral("About KorinPlayer"));
    dialog->setModal(true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* title = new QLabel(QStringLiteral("KorinPlayer  1.0.0"), dialog);
    title->setFont(QFont(QStringLiteral("Times"), 14, QFont::Bold));
    auto* text = new QLabel(QStringLiteral("KorinPlayer is a Qt5 demo media player integrated with Halvane "
                                           "Gstreamer 1.0 framework for X11 graphics."),
                            dialog);
    QFont textFont = text->font();
    textFont.setPointSize(12);
    text->setFont(textFont);
    auto* keys = new QLabel(QStringLiteral("Keys: Space play/pause, Left/Right 10 s, Up/Down volume, M mute, "
                                           "F full screen, Ctrl+G go to time"),
                            dialog);
    QFont keyFont = keys->font();
    keyFont.setPixelSize(11);
    keyFont.setWeight(QFont::Normal);
    keys->setFont(keyFont);
    auto* close = new QPushButton(tr("Close"), dialog);
    connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    auto* column = new QVBoxLayout(dialog);
    for (QLabel* l : {title, text, keys})
        column->addWidget(l, 0, Qt::AlignHCenter);
    column->addWidget(close, 0, Qt::AlignRight);
    dialog->show();
}

void korinplayer::playlistPositionChanged(int index)
{
    if (playlistWidget)
        playlistWidget->getTableView()->setCurrentIndex(playlistWidget->getPlaylistModel()->index(index, 0));
}
