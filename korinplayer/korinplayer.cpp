#include "korinplayer.h"

#include "colorkey.h"
#include "eventwait.h"
#include "mediainfowidget.h"
#include "subtitlepollingthread.h"
#include "playlistmodel.h"
#include "playlistwidget.h"
#include "playcontrol.h"
#include "seekdialog.h"
#include "sliderbar.h"
#include "videowidget.h"
#include "volumwidget.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTextEdit>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

namespace {
constexpr qint64 kNsPerSecond = 1000000000LL;
constexpr qint64 kStepNs = 10 * kNsPerSecond;

QString localFileOf(const QMediaContent& media)
{
    return media.request().url().toLocalFile();
}
} // namespace

void Widget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit sizeChanged(event->size());
}

void MenuBar::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::gray);
    event->accept();
}

korinplayer::korinplayer(QWidget* parent)
    : QMainWindow(parent)
{
    std::memset(&metadata, 0, sizeof metadata);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1280, 1024);
    window_w = screenRect.width();
    window_h = screenRect.height();
    setGeometry(0, 0, window_w, window_h - 48);

    timer = new QTimer(this);
    timer->setInterval(1000);
    connect(timer, &QTimer::timeout, this, &korinplayer::updateTime);
    changeFullTimer = new QTimer(this);
    changeFullTimer->setInterval(300);
    // A single click on the video (no second press within 300 ms) shows or
    // hides the control panels in full screen.
    connect(changeFullTimer, &QTimer::timeout, this, [this] {
        changeFullTimer->stop();
        if (!isFullScreen())
            return;
        showBarInFull = !showBarInFull;
        panelInFullscreen(showBarInFull);
    });
    panelDisappearInFull = new QTimer(this);
    panelDisappearInFull->setInterval(5000);
    panelDisappearInFull->setSingleShot(true);
    connect(panelDisappearInFull, &QTimer::timeout, this, [this] {
        showBarInFull = false;
        panelInFullscreen(false);
    });

    createMenuBar();

    centralWidget = new Widget(this);
    setCentralWidget(centralWidget);
    videoWidget = new VideoFrame(centralWidget);
    renderVideoWidget = new VideoWidget(videoWidget, this);
    renderVideoWidget->setWindowFlags(Qt::FramelessWindowHint);
    renderVideoWidget->show();
    winID = renderVideoWidget->winId();

    sliderBar = new SliderBar(this);
    connect(this, &korinplayer::durationChanged, sliderBar, &SliderBar::durationChanged);
    connect(this, &korinplayer::positionChanged, sliderBar, &SliderBar::positionChanged);
    connect(sliderBar, &SliderBar::sliderMoves, this, &korinplayer::seekBySlider);
    sliderBar->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    sliderBar->show();
    playControl = new PlayControl(this);
    playControl->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    playControl->show();

    playlist = new QMediaPlaylist(centralWidget);
    playlist->setPlaybackMode(QMediaPlaylist::Sequential);
    connect(playlist, &QMediaPlaylist::currentIndexChanged, this, &korinplayer::playlistPositionChanged,
            Qt::QueuedConnection);

    // A failed stop leaves the engine on its file: do not load another.
    connect(playControl, &PlayControl::previousTrack, this, [this] {
        if (stop())
            nextToPlay(playlist->previousIndex());
    });
    connect(playControl, &PlayControl::nextTrack, this, [this] {
        if (stop())
            nextToPlay(playlist->nextIndex());
    });

    // How the engine's thread reaches this window.
    connect(this, &korinplayer::playIndex, this, &korinplayer::nextToPlay, Qt::QueuedConnection);
    connect(this, &korinplayer::errorOccur, this, &korinplayer::showError, Qt::QueuedConnection);
    connect(this, &korinplayer::stopPlay, this, &korinplayer::stop, Qt::QueuedConnection);
    // The engine reports READY -> PAUSED on its own thread; whether we are
    // playing is read here, on ours.
    connect(
        this, &korinplayer::updateInformation, this,
        [this] {
            if (playControl->getState() != GST_STATE_PLAYING)
                return;
            qDebug("update information");
            updateInfo();
        },
        Qt::QueuedConnection);
    connect(this, &korinplayer::endOfStream, this, &korinplayer::playNextAfterEos, Qt::QueuedConnection);

    connect(videoWidget, &VideoFrame::sizeChaned, renderVideoWidget, &VideoWidget::changeSize);
    connect(renderVideoWidget, &VideoWidget::sizeChaned, this, &korinplayer::adjustRenderRect,
            Qt::QueuedConnection);
    connect(centralWidget, &Widget::sizeChanged, this, &korinplayer::changeControlBarPos);

    playlistWidget = new PlaylistWidget(playlist, centralWidget);
    playlistWidget->hide();
    connect(playlistWidget, &PlaylistWidget::add, this, [this] { openFile(false); });
    connect(playlistWidget, &PlaylistWidget::addFolder, this, [this] { openDir(false); });
    connect(playlistWidget, &PlaylistWidget::closeWidget, this, &korinplayer::showPlaylist);
    connect(playlistWidget, &PlaylistWidget::play, this, [this](int index) {
        if (!stop() || index < 0 || index >= playlist->mediaCount())
            return;
        const QString file = localFileOf(playlist->media(index));
        playlist->setCurrentIndex(index);
        if (preLoadFile(file) == 0)
            nextToPlay(index);
    });

    blankWidget = new QWidget(centralWidget);
    blankWidget->setFixedHeight(sliderBar->sizeHint().height() + playControl->sizeHint().height());

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(videoWidget);
    row->addWidget(playlistWidget);
    auto* column = new QVBoxLayout(centralWidget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(row);
    column->addWidget(blankWidget);
    setContentsMargins(0, 0, 0, 0);

    m_sink = m_preSink = detectSOC();
    createPlayEngine(m_sink);
    analyzeCommandLine();
    createShortcuts();

    if (!playlist->isEmpty()) {
        if (!isConnect)
            prepareBeforePlay(playControl);
        playlist->setCurrentIndex(0);
        // Preload only once the window is on screen: the engine draws into it.
        // A precise timer: a coarse one may fire up to 30 ms either side.
        auto* startTimer = new QTimer(this);
        startTimer->setTimerType(Qt::PreciseTimer);
        connect(startTimer, &QTimer::timeout, this, [this, startTimer] {
            startTimer->stop();
            if (!centralWidget->isVisible()) {
                startTimer->start(600);
                return;
            }
            if (!playlist->isEmpty() && preLoadFile(localFileOf(playlist->media(0))) == 0)
                emit playIndex(0);
            startTimer->deleteLater();
        });
        startTimer->start(600);
    }
}

korinplayer::~korinplayer()
{
    stopScans();
    delete seekDialog.data();
    if (engine) {
        stopSubtitleThread();
        engine->stop_wait_state_change(engine);
        destroyEngine();
    }
    stopSubtitleThread();
    delete subtitleThread;
    subtitleThread = nullptr;
    deleteImageInfo();
}

void korinplayer::createShortcuts()
{
    // Alt+arrows and Ctrl+G are used neither by tables, sliders nor text
    // fields: they work whatever has the focus. The plain keys go through
    // eventFilter, which leaves widgets the keys they need.
    struct Key {
        QKeySequence keys;
        void (PlayControl::*signal)();
    } const keys[] = {
        {QKeySequence(Qt::ALT + Qt::Key_Right), &PlayControl::stepForward},
        {QKeySequence(Qt::ALT + Qt::Key_Left), &PlayControl::stepBackward},
        {QKeySequence(Qt::CTRL + Qt::Key_G), &PlayControl::openSeekDialog},
    };
    for (const Key& k : keys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, playControl, k.signal);
    }
    qApp->installEventFilter(this);
}

bool korinplayer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()
        || static_cast<QWidget*>(watched)->window() != this)
        return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // A text field keeps every key; a table or slider its arrows. A
    // focused button would click on Space: the key goes to play/pause.
    // (Keys sent to an inactive window have no focus widget: the receiver.)
    const QWidget* focus = QApplication::focusWidget();
    if (!focus)
        focus = static_cast<QWidget*>(watched);
    if (qobject_cast<const QLineEdit*>(focus) || qobject_cast<const QAbstractSpinBox*>(focus)
        || qobject_cast<const QTextEdit*>(focus) || qobject_cast<const QPlainTextEdit*>(focus))
        return false;
    const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right || key->key() == Qt::Key_Up
        || key->key() == Qt::Key_Down;
    if (arrow && (qobject_cast<const QAbstractItemView*>(focus) || qobject_cast<const QAbstractSlider*>(focus)))
        return false;
    return handleKey(key->key());
}

bool korinplayer::handleKey(int key)
{
    switch (key) {
    case Qt::Key_Space:
        playControl->playClicked();
        return true;
    case Qt::Key_Left:
        emit playControl->stepBackward();
        return true;
    case Qt::Key_Right:
        emit playControl->stepForward();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        changeVolumeBy(key == Qt::Key_Up ? 5 : -5);
        return true;
    case Qt::Key_M:
        toggleMute();
        return true;
    case Qt::Key_F:
        changeFullOrNormal();
        return true;
    case Qt::Key_Escape:
        if (!isFullScreen())
            return false;
        changeFullOrNormal();
        return true;
    default:
        return false;
    }
}

void korinplayer::analyzeCommandLine()
{
    QStringList args = QCoreApplication::arguments();
    if (!args.isEmpty())
        args.removeFirst();
    if (args.isEmpty())
        return;
    bool recursive = false;
    QStringList folders;
    for (const QString& arg : qAsConst(args)) {
        if (arg == QLatin1String("-r")) {
            recursive = true;
            continue;
        }
        const QFileInfo info(arg);
        if (info.isDir())
            folders << info.absoluteFilePath();
        else if (info.isFile())
            addFile(info.absoluteFilePath(), false);
    }
    // The menu's check item shows the flag (and sets isRecursionDir).
    if (auto* item = menuWidget()->findChild<QAction*>(QStringLiteral("menuRecursionDir")))
        item->setChecked(recursive);
    for (int i = 0; i < folders.size(); ++i) {
        dirPath = folders.at(i);
        startReadDir(folders.at(i), i == 0 && playlist->isEmpty(), recursive);
    }
}

void korinplayer::addFile(const QString& path, bool playIt)
{
    const int before = playlist->mediaCount();
    addToPlaylist(path);
    if (!playIt || playlist->mediaCount() == before)
        return;
    const int index = playlist->mediaCount() - 1;
    playlist->setCurrentIndex(index);
    if (preLoadFile(path) != 0)
        return;
    if (mediaType == UNKNOW_TYPE) {
        playlist->removeMedia(index);
        playlist->setCurrentIndex(-1);
        return;
    }
    // A video may show its thumbnail instead of playing; media found to
    // have no video plays.
    if (mediaType == VIDEO_TYPE && isGetThumbnail && getVideoThumbnail() != PLAYENGINE_ERROR_NOT_SUPPORT)
        return;
    nextToPlay(index);
}

void korinplayer::addToPlaylist(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return;
    const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    if (!url.isValid()) {
        QMessageBox::information(this, tr("Open Error"), tr("open error!"));
        return;
    }
    dirPath = info.absolutePath();
    playlist->addMedia(QMediaContent(url));
}

int korinplayer::addToPlaylist(const QStringList& list)
{
    int added = 0;
    for (const QString& entry : list) {
        const int before = playlist->mediaCount();
        if (QFileInfo::exists(entry)) {
            addToPlaylist(entry);
        } else {
            // Text without a scheme is a missing local path, not a URL.
            const QUrl url(entry, QUrl::StrictMode);
            if (url.isValid() && !url.scheme().isEmpty())
                playlist->addMedia(QMediaContent(url));
        }
        added += playlist->mediaCount() - before;
    }
    return added;
}

ReadDir* korinplayer::startReadDir(const QString& folder, bool playIt, bool recursive)
{
    auto* scan = new ReadDir(this, folder, playIt, recursive);
    auto* watchdog = new QTimer(this);
    watchdog->setInterval(3000000); // 50 minutes
    watchdog->setSingleShot(true);
    connect(scan, &ReadDir::finishRead, watchdog, &QTimer::stop, Qt::QueuedConnection);
    connect(scan, &QThread::finished, watchdog, &QObject::deleteLater);
    connect(scan, &ReadDir::finishRead, this, [this] {
        if (!isConnect)
            prepareBeforePlay(playControl);
    }, Qt::QueuedConnection);
    // A scan leaves the list when its thread has ended (also one that found
    // no folder and never reports): close joins every scan still listed.
    connect(scan, &QThread::finished, this, [this, scan] { dirThreadRunList.removeAll(scan); },
            Qt::QueuedConnection);
    connect(scan, &QThread::finished, scan, &QObject::deleteLater);
    QPointer<ReadDir> guard(scan);
    connect(watchdog, &QTimer::timeout, this, [guard] {
        // The walk checks the flag at every entry and ends by itself.
        if (guard)
            guard->setNeedQuit(true);
        qDebug("read time out !!!\n\n");
    });
    watchdog->start();
    dirThreadRunList.append(scan);
    scan->start(QThread::InheritPriority);
    return scan;
}

void korinplayer::insertScanBatch(QPointer<ReadDir> scan, QList<QMediaContent> batch, bool playNow)
{
    if (!scan || scan->getNeedQuit() || batch.isEmpty())
        return;
    QMutexLocker lock(&ReadDir::mutex);
    const int first = playlist->mediaCount();
    playlist->insertMedia(first, batch);
    if (playNow && !scan->getNeedQuit()) {
        emit stopPlay();
        emit playIndex(first);
    }
}

void korinplayer::stopScans()
{
    const QList<ReadDir*> scans = dirThreadRunList;
    for (ReadDir* scan : scans)
        scan->setNeedQuit(true);
    for (ReadDir* scan : scans)
        scan->wait();
    dirThreadRunList.clear();
}

VideoSink korinplayer::detectSOC()
{
    m_useSinks = 0;
    const gint overlay = play_engine_checkfeature(0);
    const gint gl = play_engine_checkfeature(1);
    if (overlay) {
        m_useSinks = OVERLAYSINK;
        return OVERLAYSINK;
    }
    if (gl) {
        m_useSinks = GLIMAGESINK;
        return GLIMAGESINK;
    }
    return UNKONWNSINK;
}

void korinplayer::destroyEngine()
{
    // The subtitle thread calls the engine: it ends first.
    stopSubtitleThread();
    if (engine) {
        engine->reg_event_handler(engine, nullptr, nullptr);
        play_engine_destroy(engine);
        engine = nullptr;
    }
    if (subtitleThread)
        subtitleThread->setPlayengine(nullptr);
}

void korinplayer::createPlayEngine(VideoSink sink)
{
    destroyEngine();
    engineFile.clear();
    engine = play_engine_create();
    if (!engine) {
        qWarning("playengine create failed");
        return;
    }
    engine->reg_event_handler(engine, this, &korinplayer::event_callback);
    if (menuRenderSubOpt && menuRenderSubOpt->isChecked())
        engine->set_text_sink(engine, "appsink");
    // No sink detected: the engine's own default (as for ximagesink), so
    // that the player still plays.
    const char* name = nullptr;
    switch (sink) {
    case OVERLAYSINK:
        name = "overlaysink";
        break;
    case GLIMAGESINK:
        name = "glimagesink";
        break;
    case KORINV4l2SINK:
        name = "korinv4l2sink";
        break;
    default:
        break;
    }
    if (name)
        engine->set_video_sink(engine, name);
    engine->set_window(engine, guintptr(winID));
    if (subtitleThread && !subtitleThread->isRunning())
        subtitleThread->setPlayengine(engine);
}

void korinplayer::reCreatePipeline()
{
    // The new engine plays at the volume and mute last chosen.
    gdouble volume = 1.0;
    if (!engine || engine->get_volume(engine, &volume) != PLAYENGINE_SUCCESS)
        volume = 1.0;
    destroyEngine();
    qDebug() << "create play engine using " << int(m_sink);
    createPlayEngine(m_sink);
    if (engine) {
        engine->set_volume(engine, volume);
        engine->set_mute(engine, VolumWidget::muted);
    }
    qDebug("recreate play engine");
    m_preSink = m_sink;
    if (renderSubWaysChanged) {
        render_subtitle_by_ui = menuRenderSubOpt->isChecked();
        initRenderSubtitleWays();
        renderSubWaysChanged = false;
    }
    const int count = playlist->mediaCount();
    const QMediaPlaylist::PlaybackMode mode = playlist->playbackMode();
    if ((count == 1 && mode != QMediaPlaylist::Sequential)
        || (count >= 2 && mode == QMediaPlaylist::CurrentItemInLoop)) {
        qDebug("reset file uri");
        if (preLoadFile(localFileOf(playlist->currentMedia())) != 0)
            qWarning("preLoadFile faile");
    }
}

void korinplayer::setEngineFile(const QString& location, const QUrl& url)
{
    engine->set_file(engine, location.toUtf8().constData());
    engineFile = url;
    tryLoadLocalSubtitle(url.toLocalFile());
    // A rebuilt engine starts with its own style: send ours with each file.
    if (render_subtitle_by_ui)
        return;
    QString pango;
    QFont2PangoFontDescription(subtitle_font, pango);
    engine->set_subtitle_font(engine, pango.toUtf8().constData());
    engine->set_subtitle_color(engine, subtitle_color.rgba());
    engine->set_subtitle_outline_color(engine, subtitle_outline_color.rgba());
    adjustSubRenderByGst(subPos);
}

int korinplayer::preLoadFile(const QString& path)
{
    if (!engine) {
        qWarning("preload file failed.");
        return -1;
    }
    setWindowTitle(QStringLiteral("korinplayer -- loading"));
    setEngineFile(path, QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    if (engine->pause(engine) != PLAYENGINE_SUCCESS) {
        qWarning("preload file failed.");
        emit stopPlay();
        setTitle(QMediaContent());
        return -1;
    }
    playControl->setState(GST_STATE_PAUSED);
    if (render_subtitle_by_ui)
        startSubtitleThread();
    else
        followEngineSubtitle();
    qDebug("Update media information");
    updateInfo();
    return 0;
}

void korinplayer::event_callback(void* context, EventType event, void* data)
{
    auto* self = static_cast<korinplayer*>(context);
    if (!self)
        return;
    switch (event) {
    case EVENT_ID_ERROR:
        if (data)
            emit self->errorOccur(QString::fromUtf8(static_cast<const char*>(data)));
        emit self->stopPlay();
        break;
    case EVENT_ID_STATE_CHANGE: {
        if (!data)
            break;
        const auto* st = static_cast<const PlayEngineState*>(data);
        qDebug().noquote() << "State change from " << gst_element_state_get_name(st->old_st) << " to "
                           << gst_element_state_get_name(st->new_st);
        if (st->old_st == GST_STATE_READY && st->new_st == GST_STATE_PAUSED)
            emit self->updateInformation();
        break;
    }
    case EVENT_ID_EOS:
        emit self->stopPlay();
        qDebug("play next");
        // The repaint and the play list's next index belong to the
        // interface thread.
        emit self->endOfStream();
        break;
    default:
        break;
    }
}

void korinplayer::playNextAfterEos()
{
    update();
    emit playIndex(playlist->nextIndex());
}

void korinplayer::showError(QString str)
{
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Gstreamer error"), str,
                                QMessageBox::Close);
    box->exec();
    delete box;
    emit stopPlay();
}

void korinplayer::prepareBeforePlay(PlayControl* control)
{
    if (isConnect || !control)
        return;
    connect(control, &PlayControl::play, this, &korinplayer::startPlaying);
    connect(control, &PlayControl::stop, this, &korinplayer::stop);
    connect(control, &PlayControl::pause, this, &korinplayer::pause);
    connect(control, &PlayControl::changeRate, this, &korinplayer::changeRate);
    connect(control, &PlayControl::stepBackward, this, &korinplayer::stepRewind);
    connect(control, &PlayControl::stepForward, this, &korinplayer::stepForward);
    connect(control, &PlayControl::repeatButtonClicked, this, &korinplayer::setRepeatMode);
    connect(control, &PlayControl::volBtnClicked, this, &korinplayer::showVolumWidget);
    connect(control, &PlayControl::fullSrceenBtnClicked, this, &korinplayer::changeFullOrNormal);
    connect(control, &PlayControl::openSeekDialog, this, &korinplayer::openSeekDialog);
    connect(control, &PlayControl::go_on, this, &korinplayer::resume);
    connect(control, &PlayControl::infoButtonClicked, this, &korinplayer::showMediaInfo);
    isConnect = true;
}

void korinplayer::startPlaying()
{
    int index = playlist->currentIndex();
    if (index < 0) {
        if (playlist->isEmpty()) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), tr("No media in playlist"),
                            QMessageBox::Close, this);
            box.exec();
            return;
        }
        index = playlist->mediaCount() - 1;
    }
    playlist->setCurrentIndex(index);
    if (preLoadFile(localFileOf(playlist->media(index))) == 0)
        nextToPlay(index);
}

void korinplayer::resume()
{
    if (!engine)
        return;
    if (engine->play(engine) != PLAYENGINE_SUCCESS) {
        qWarning("Try to play failed");
        return;
    }
    timer->start();
    playControl->setState(GST_STATE_PLAYING);
    if (isGetThumbnail && isThumbnailShown) {
        renderVideoWidget->update();
        isThumbnailShown = false;
    }
}

void korinplayer::nextToPlay(int index)
{
    if (index < 0)
        stop();
    else
        play(index);
    if (renderVideoWidget)
        renderVideoWidget->update();
}

void korinplayer::play(int index)
{
    if (!engine || index < 0 || index >= playlist->mediaCount())
        return;
    const QUrl url = playlist->media(index).request().url();
    // A rebuilt engine holds no file even when the index is current.
    const bool newFile = index != playlist->currentIndex() || url != engineFile;
    if (newFile) {
        if (playControl->getState() != GST_STATE_NULL) {
            qWarning("engine not stopped, next file not loaded");
            return;
        }
        playlist->setCurrentIndex(index);
        setEngineFile(url.toString(), url);
    }
    if (engine->play(engine) != PLAYENGINE_SUCCESS) {
        qWarning("wait start play failed!");
        return;
    }
    // Every item, also after Next, the automatic advance or a loop restart.
    if (render_subtitle_by_ui)
        startSubtitleThread();
    else if (newFile)
        followEngineSubtitle();
    if (mediaType == UNKNOW_TYPE) {
        qDebug("Update media information");
        updateInfo();
    }
    qDebug().noquote() << "Now playing:\t" + url.toString();
    playControl->setState(GST_STATE_PLAYING);
    playlist->setCurrentIndex(index);
    setTitle(playlist->currentMedia());
    timer->start();
}

void korinplayer::pause()
{
    if (!engine)
        return;
    if (engine->pause(engine) != PLAYENGINE_SUCCESS) {
        qWarning("pause time out!");
        return;
    }
    playControl->setState(GST_STATE_PAUSED);
    timer->stop();
}

bool korinplayer::stop()
{
    if (rateWidget && rateWidget->isVisible())
        hideRateWidget(false); // the engine's stop resets its rate itself
    hideSubtitle();
    if (engine && engine->stop(engine) != PLAYENGINE_SUCCESS) {
        qWarning("stop time out!");
        return false;
    }
    timer->stop();
    emit positionChanged(0);
    emit durationChanged(0);
    playControl->setState(GST_STATE_NULL);
    setTitle(QMediaContent());
    mediaType = UNKNOW_TYPE;
    deleteImageInfo();
    delete infoWidget;
    infoWidget = nullptr;
    if (renderVideoWidget)
        renderVideoWidget->update();
    // The stopped engine ends the thread anyway; join it now so that the
    // next play starts it afresh.
    stopSubtitleThread();
    if (m_sink == m_preSink && !renderSubWaysChanged) {
        wait(2);
        return true;
    }
    reCreatePipeline();
    wait(2);
    return true;
}

void korinplayer::wait(int ms)
{
    waitWithEvents(ms);
}

void korinplayer::updateTime()
{
    if (!engine)
        return;
    gint64 position = 0, duration = 0;
    if (engine->get_duration(engine, &duration) == PLAYENGINE_SUCCESS && duration >= 0
        && duration / kNsPerSecond != SliderBar::totalTime)
        emit durationChanged(duration / 1000000);
    if (engine->get_position(engine, &position) == PLAYENGINE_SUCCESS && position >= 0)
        emit positionChanged(position / 1000000);
    if (updateMediaInfo && infoWidget) {
        delete infoWidget;
        infoWidget = nullptr;
        showMediaInfo();
    }
    updateMediaInfo = false;
}

bool korinplayer::forcedAccurateSeek() const
{
    // Subtitles from an external file drawn by the engine only line up
    // after a frame-exact seek.
    return external_subtitle_loaded && (!render_subtitle_by_ui || (subtitle && subtitle_on));
}

void korinplayer::seekToNanoseconds(qint64 position, bool accurate)
{
    if (!engine || playControl->getState() == GST_STATE_NULL)
        return;
    gint64 duration = -1;
    if (position < 0)
        position = 0;
    if (engine->get_duration(engine, &duration) == PLAYENGINE_SUCCESS && duration > 0 && position > duration)
        position = duration;
    if (engine->seek(engine, guint64(position), accurate) != PLAYENGINE_SUCCESS)
        qWarning("seek failed");
    // After any seek the line at the new position shows, even one seen before.
    hideSubtitle();
    updateTime();
}

void korinplayer::seekBySlider(int seconds)
{
    if (rateWidget && rateWidget->isVisible())
        hideRateWidget(true);
    if (!engine || playControl->getState() == GST_STATE_NULL)
        return;
    timer->stop();
    emit positionChanged(qint64(seconds) * 1000);
    seekToNanoseconds(qint64(seconds) * kNsPerSecond, forcedAccurateSeek() || accurateSeek);
    if (playControl->getState() == GST_STATE_PLAYING)
        timer->start();
}

void korinplayer::stepBy(qint64 delta)
{
    gint64 position = 0;
    if (!engine || playControl->getState() == GST_STATE_NULL
        || engine->get_position(engine, &position) != PLAYENGINE_SUCCESS)
        return;
    seekToNanoseconds(position + delta, false);
}

void korinplayer::stepForward()
{
    stepBy(kStepNs);
}

void korinplayer::stepRewind()
{
    stepBy(-kStepNs);
}

void korinplayer::changeRate(qreal rate)
{
    // The indicator shows only a rate the engine really took.
    if (setPlaybackRate(rate)) {
        showRateWidget(rate);
    } else {
        qWarning() << "set play rate failed:" << rate;
        playControl->initPlayRateQueue();
    }
}

bool korinplayer::setPlaybackRate(qreal rate)
{
    return engine && engine->set_play_rate(engine, rate) == PLAYENGINE_SUCCESS;
}

void korinplayer::showRateWidget(qreal rate)
{
    if (!rateWidget) {
        rateWidget = new QWidget(this, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        QColor key;
        ColorKey::color_key_to_qcolor(key);
        QPalette pal = rateWidget->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            pal.setBrush(group, QPalette::Window, QBrush(key, Qt::SolidPattern));
        rateWidget->setPalette(pal);
        rateWidget->setAutoFillBackground(true);
        ratelabel = new QLabel(rateWidget);
        auto* layout = new QVBoxLayout(rateWidget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(ratelabel);
        rateWidget->move(window_w - 100, 150);
    }
    const QString arrow = rate >= 0 ? QStringLiteral("&gt;&gt;") : QStringLiteral("&lt;&lt;");
    ratelabel->hide();
    rateWidget->hide();
    if (qFuzzyCompare(rate, 1.0))
        return;
    ratelabel->setText(
        QStringLiteral("<table style=\"background-color:#337FE5;\" class=\"ke-zeroborder\" cellpadding=\"0\" "
                       "cellspacing=\"0\" align=\"center\" border=\"0\" bordercolor=\"#337FE5\" height=\"25\" "
                       "width=\"45\"><tbody><tr><td><span style=\"font-size:18px;\">")
        + arrow + QString::number(rate, 'g', 6)
        + QStringLiteral("</span><br /></td></tr></tbody></table><br /><br />"));
    rateWidget->show();
    ratelabel->show();
}

void korinplayer::hideRateWidget(bool resetEngineRate)
{
    if (rateWidget)
        rateWidget->hide();
    playControl->initPlayRateQueue();
    // A seek keeps the engine's rate; the indicator going away must mean 1.0.
    if (resetEngineRate && engine)
        engine->set_play_rate(engine, 1.0);
}

void korinplayer::setRepeatMode()
{
    changeRepeatMode(playControl);
}

void korinplayer::changeRepeatMode(PlayControl* control)
{
    QMediaPlaylist::PlaybackMode next;
    const char* icon;
    switch (playlist->playbackMode()) {
    case QMediaPlaylist::Sequential:
        next = QMediaPlaylist::CurrentItemInLoop;
        icon = ":image/repeat-one.png";
        break;
    case QMediaPlaylist::CurrentItemInLoop:
        next = QMediaPlaylist::Loop;
        icon = ":image/repeat-all.png";
        break;
    case QMediaPlaylist::Loop:
        next = QMediaPlaylist::Random;
        icon = ":image/repeat-random.png";
        break;
    case QMediaPlaylist::Random:
        next = QMediaPlaylist::Sequential;
        icon = ":image/repeat-off.png";
        break;
    default:
        QMessageBox::information(this, QStringLiteral("ERROR"), tr("Other playback mode occurs!!"));
        return;
    }
    playlist->setPlaybackMode(next);
    if (control) {
        control->repeatButton->setIcon(QIcon(QString::fromLatin1(icon)));
        control->repeatButton->setIconSize(QSize(42, 42));
    }
}

void korinplayer::openSeekDialog()
{
    if (seekDialog) {
        seekDialog->raise();
        seekDialog->activateWindow();
        return;
    }
    seekDialog = new SeekDialog(nullptr, SliderBar::totalTime * 1000);
    seekDialog->setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint);
    seekDialog->setModal(true);
    seekDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(seekDialog.data(), &SeekDialog::seek, this, [this](QTime t, bool accurate) {
        if (!engine || playControl->getState() == GST_STATE_NULL)
            return;
        const qint64 seconds = t.hour() * 3600LL + t.minute() * 60LL + t.second();
        timer->stop();
        seekToNanoseconds(seconds * kNsPerSecond, forcedAccurateSeek() || accurate);
        if (playControl->getState() == GST_STATE_PLAYING)
            timer->start();
    });
    seekDialog->show();
}

void korinplayer::setTitle(QMediaContent mediaContent)
{
    const QString name = QFileInfo(mediaContent.request().url().fileName()).completeBaseName();
    setWindowTitle(name.isEmpty() ? QStringLiteral("korinplayer") : QStringLiteral("korinplayer -- ") + name);
}

void korinplayer::showVolumWidget()
{
    if (volumWidget) {
        volumWidget->hide();
        disconnect(this, nullptr, volumWidget, nullptr);
        delete volumWidget;
        volumWidget = nullptr;
        return;
    }
    gdouble volume = 1.0;
    if (!engine || engine->get_volume(engine, &volume) != PLAYENGINE_SUCCESS)
        volume = 1.0;
    volumWidget = new VolumWidget(this, volume);
    volumWidget->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QPalette pal = volumWidget->palette();
    pal.setColor(QPalette::Window, QColor(0x40, 0x40, 0x40));
    volumWidget->setPalette(pal);
    volumWidget->setAutoFillBackground(true);
    connect(volumWidget, &VolumWidget::changeVolume, this, [this](int percent) {
        if (engine)
            engine->set_volume(engine, percent / 100.0);
    });
    connect(volumWidget, &VolumWidget::isMute, this, [this](bool mute) {
        if (engine)
            engine->set_mute(engine, mute);
    });
    const QPoint corner = playControl->volButtom->mapTo(this, QPoint(0, 0));
    const QSize hint = volumWidget->sizeHint();
    volumWidget->setGeometry(corner.x() - 4, corner.y() - hint.height() - 10, hint.width(), hint.height());
    volumWidget->show();
    volumWidget->raise();
}

void korinplayer::changeVolumeBy(int percent)
{
    if (volumWidget) {
        volumWidget->volSlider->setValue(volumWidget->volSlider->value() + percent);
        return;
    }
    gdouble volume = 1.0;
    if (engine && engine->get_volume(engine, &volume) == PLAYENGINE_SUCCESS)
        engine->set_volume(engine, qBound(0, qRound(volume * 100) + percent, 100) / 100.0);
}

void korinplayer::toggleMute()
{
    if (volumWidget) {
        volumWidget->isMuteCkBox->click();
        return;
    }
    VolumWidget::muted = !VolumWidget::muted;
    if (engine)
        engine->set_mute(engine, VolumWidget::muted);
}

void korinplayer::deleteImageInfo()
{
    delete imageInfo;
    imageInfo = nullptr;
}

void korinplayer::closeEvent(QCloseEvent* event)
{
    timer->stop();
    // The engine may still draw into the render window: take it down first.
    stopSubtitleThread();
    if (engine) {
        engine->stop(engine);
        engine->stop_wait_state_change(engine);
        destroyEngine();
    }
    engineFile.clear();
    stopScans();
    if (renderVideoWidget) {
        renderVideoWidget->close();
        delete renderVideoWidget;
        renderVideoWidget = nullptr;
    }
    event->accept();
}
