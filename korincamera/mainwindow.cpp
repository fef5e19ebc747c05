#include "mainwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaType>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QToolButton>
#include <QSharedPointer>
#include <cerrno>
#include <sys/stat.h>

#include "colorkey.h"
#include "eventwait.h"
#include "filesystemwatcher.h"
#include "lookbackwidget.h"
#include "menubar.h"
#include "previewwidget.h"
#include "storagefault.h"
#include "videothumbnailer.h"

namespace {
const double kLowStorageMb = 50.0;
// Longest wait for the engine's answer to a capture command; beyond it the
// engine is taken as gone and capture is allowed again.
const int kCommandGuardMs = 4000;
const char* const kExtensions[] = {"mp4", "mov", "mkv", "avi", "flv", "ts"};
}

// The grabbed preview picture that flies to the thumbnail button after a
// snapshot.
class SnapShotAnimationWidget : public QToolButton
{
public:
    SnapShotAnimationWidget(QPixmap& pix, QWidget* parent)
        : QToolButton(parent)
        , m_pix(pix)
    {
        setWindowFlags(Qt::WindowStaysOnTopHint);
        setStyleSheet("QToolButton{border: none}");
        // A window of its own, so that it is drawn over the native preview.
        setAttribute(Qt::WA_NativeWindow);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!m_pix.isNull()) {
            QPainter painter(this);
            painter.drawPixmap(0, 0, m_pix.scaled(size(), Qt::IgnoreAspectRatio, Qt::FastTransformation));
        }
        event->accept();
    }

private:
    QPixmap m_pix;
};

MainWindow::MainWindow(QStringList devlist, int cameraId, QWidget* parent)
    : QMainWindow(parent)
{
    registerMetaType();
    m_devlist = devlist;

    m_centralWidget = new QWidget(this);
    m_menuBar = new CameraMenuBar(m_centralWidget);
    m_menuBar->setObjectName("MenuBar");
    m_menuBar->setStyleSheet("QFrame#MenuBar{                         background: qlineargradient(x1: 0, y1: 0, x2: 1, y2: 0,                         stop: 0 #282828, stop: 0.5 #A2A2A2,                         stop: 1.0 #282828);                         }");

    m_previewWidget = new PreviewWidget(m_centralWidget);
    m_previewWid = m_previewWidget->winId();

    m_layout = new QHBoxLayout;
    m_layout->setSpacing(0);
    m_layout->addWidget(m_previewWidget);
    m_layout->addWidget(m_menuBar);
    int left = 0;
    m_layout->getContentsMargins(&left, nullptr, nullptr, nullptr);
    m_layout->setContentsMargins(left, 0, 0, 0);
    m_centralWidget->setLayout(m_layout);
    setCentralWidget(m_centralWidget);
    resize(800, 480);

    m_fileSysThread = new FileSystemWatcher(QDir::homePath(), nullptr);
    connect(m_fileSysThread, &FileSystemWatcher::nameListFirstChanged, m_menuBar,
            &CameraMenuBar::changeThumbnailImage);
    connect(m_fileSysThread, &FileSystemWatcher::storageNotEnough, this, &MainWindow::handleStorageNotEnough);
    connect(m_fileSysThread, &FileSystemWatcher::thumbnailMissing, this, &MainWindow::askMissingThumbnail);
    connect(m_fileSysThread, &FileSystemWatcher::folderMissing, this, &MainWindow::handleFolderMissing);
    m_fileSysThread->start();

    m_engineThread = new QThread;
    m_engineObj = new EngineAdapter(nullptr);
    m_engineObj->moveToThread(m_engineThread);
    m_engineThread->start();

    m_videoThumbnailer = new VideoThumbnailer(nullptr);
    m_videoThumbnailerThread = new QThread;
    m_videoThumbnailer->moveToThread(m_videoThumbnailerThread);
    m_videoThumbnailerThread->start();
    connect(this, &MainWindow::getThumbnail, m_videoThumbnailer, &VideoThumbnailer::getVideoFrame,
            Qt::QueuedConnection);

    connectSingals();
    followCaptureSettings();

    m_updateMediaTimer.setInterval(500);
    m_updateMediaTimer.stop();
    m_cmdGuard.setSingleShot(true);
    m_cmdGuard.setInterval(kCommandGuardMs);
    connect(&m_cmdGuard, &QTimer::timeout, this, [this] {
        qWarning("no answer from the recorder engine; capture allowed again");
        m_cmdPending = false;
    });

    m_engineObj->setUpdateCapabilityCompleted(false);

    createEngine(cameraId);
    emit set_preview_win_id(m_previewWid);
    emit engine_prepare(true);
}

MainWindow::~MainWindow()
{
    delete m_videoThumbnailer;
    qDebug("quit");
}

void MainWindow::registerMetaType()
{
    qRegisterMetaType<REuint32>("REuint32");
    qRegisterMetaType<REuint64>("REuint64");
    qRegisterMetaType<REboolean>("REboolean");
    qRegisterMetaType<REtime>("REtime");
    qRegisterMetaType<WId>("WId");
    qRegisterMetaType<RERawVideoSettings>("RERawVideoSettings");
    qRegisterMetaType<REVideoRect>("REVideoRect");
    qRegisterMetaType<REAudioEncoderSettings>("REAudioEncoderSettings");
    qRegisterMetaType<REVideoEncoderSettings>("REVideoEncoderSettings");
    qRegisterMetaType<REOutputFileSettings>("REOutputFileSettings");
}

int MainWindow::connectSingals()
{
    const Qt::ConnectionType q = Qt::QueuedConnection;
    EngineAdapter* a = m_engineObj;
    connect(m_previewWidget, &PreviewWidget::clicked, this, &MainWindow::processPreviewWidgetClickEvent, q);
    connect(a, &EngineAdapter::updateCapability, m_menuBar, &CameraMenuBar::updateAppSettingsCapability, q);
    // A media time that arrives after the recording ended must not bring the
    // count back.
    StopWatch* watch = m_menuBar->stopWatch();
    connect(a, &EngineAdapter::updateRecordingTime, watch, [watch](quint64 t) {
        if (EngineAdapter::m_engineState != PREVIREW)
            watch->setTime(t);
    }, q);
    connect(a, &EngineAdapter::engineStateChanged, this, &MainWindow::engineStateChanged, q);
    connect(a, &EngineAdapter::engineWorkDone, this, &MainWindow::engineWorkDone, q);
    connect(m_menuBar, &CameraMenuBar::takeSnapShotBtn, this, &MainWindow::sendCMDtoEngine);
    connect(m_menuBar, &CameraMenuBar::showLookBackWidget, this, &MainWindow::showLookBackWidget);
    connect(this, &MainWindow::sendSnapShotCmd, a, &EngineAdapter::takeSnapShot, q);
    connect(a, &EngineAdapter::errorOccur, this, &MainWindow::handleEngineError, q);
    connect(a, &EngineAdapter::limitReached, this, &MainWindow::showRecordingEnded, q);
    connect(this, &MainWindow::sendStartRecordingCmd, a, &EngineAdapter::takeVideoRecording, q);
    connect(this, &MainWindow::sendStopRecordingCmd, a, &EngineAdapter::stopVideoRecording, q);
    connect(this, &MainWindow::sendPauseRecordingCmd, a, &EngineAdapter::pauseVideoRecording, q);
    connect(this, &MainWindow::sendResumeRecordingCmd, a, &EngineAdapter::resumeVideoRecording, q);
    connect(&m_updateMediaTimer, &QTimer::timeout, a, &EngineAdapter::get_media_time, q);
    connect(this, &MainWindow::engine_close, a, &EngineAdapter::engine_close, Qt::BlockingQueuedConnection);

    connect(this, &MainWindow::engine_create, a, &EngineAdapter::engine_create, q);
    connect(this, &MainWindow::engine_init, a, &EngineAdapter::engine_init, q);
    connect(this, &MainWindow::engine_prepare, a, &EngineAdapter::engine_prepare, q);
    connect(this, &MainWindow::engine_destroy, a, &EngineAdapter::engine_destroy, q);
    connect(this, &MainWindow::set_audio_source, a, &EngineAdapter::set_audio_source, q);
    connect(this, &MainWindow::set_audio_sample_rate, a, &EngineAdapter::set_audio_sample_rate, q);
    connect(this, &MainWindow::set_audio_channel, a, &EngineAdapter::set_audio_channel, q);
    connect(this, &MainWindow::set_video_source, a, &EngineAdapter::set_video_source, q);
    connect(this, &MainWindow::set_camera_id, a, &EngineAdapter::set_camera_id, q);
    connect(this, &MainWindow::set_camera_output_settings, a, &EngineAdapter::set_camera_output_settings, q);
    connect(this, &MainWindow::set_preview_region, a, &EngineAdapter::set_preview_region, q);
    connect(this, &MainWindow::set_preview_win_id, a, &EngineAdapter::set_preview_win_id, q);
    connect(this, &MainWindow::need_preview_buffer, a, &EngineAdapter::need_preview_buffer, q);
    connect(this, &MainWindow::set_audio_encoder_settings, a, &EngineAdapter::set_audio_encoder_settings, q);
    connect(this, &MainWindow::set_video_encoder_settings, a, &EngineAdapter::set_video_encoder_settings, q);
    connect(this, &MainWindow::set_container_format, a, &EngineAdapter::set_container_format, q);
    connect(this, &MainWindow::set_output_file_path, a, &EngineAdapter::set_output_file_path, q);
    connect(this, &MainWindow::set_file_count, a, &EngineAdapter::set_file_count, q);
    connect(this, &MainWindow::set_output_file_settings, a, &EngineAdapter::set_output_file_settings, q);
    connect(this, &MainWindow::set_max_file_duration, a, &EngineAdapter::set_max_file_duration, q);
    connect(this, &MainWindow::set_max_file_size_bytes, a, &EngineAdapter::set_max_file_size_bytes, q);
    connect(this, &MainWindow::get_camera_capebilities, a, &EngineAdapter::get_camera_capebilities, q);
    connect(this, &MainWindow::reset, a, &EngineAdapter::reset, q);
    connect(this, &MainWindow::add_video_effect, a, &EngineAdapter::add_video_effect, q);
    connect(this, &MainWindow::add_time_stamp, a, &EngineAdapter::add_time_stamp, q);
    connect(this, &MainWindow::set_rtp_host, a, &EngineAdapter::set_rtp_host, q);
    connect(this, &MainWindow::disable_viewfinder, a, &EngineAdapter::disable_viewfinder, q);
    return 1;
}

void MainWindow::followCaptureSettings()
{
    connect(this, &MainWindow::set_container_format, this, [this](REuint32 f) { m_containerFormat = f; });
    connect(this, &MainWindow::set_file_count, this, [this](REuint32 n) { m_fileCount = n; });
    connect(this, &MainWindow::set_max_file_size_bytes, this, [this](REuint64 b) { m_fileSize = b; });
    connect(this, &MainWindow::set_rtp_host, this, [this](QString host, REuint32) { m_streaming = !host.isEmpty(); });
}

void MainWindow::createEngine(int cameraId)
{
    emit engine_create(true);
    emit engine_init();
    emit set_audio_source(0);
    emit set_audio_sample_rate(0);
    emit set_audio_channel(0);
    emit set_video_source(0);
    emit set_camera_id(REuint32(cameraId));
    emit set_camera_output_settings(RERawVideoSettings{0, 0, 0, 0});
    emit set_preview_region(REVideoRect{0, 0, 0, 0});
    emit need_preview_buffer(0);
    REAudioEncoderSettings audio;
    memset(&audio, 0, sizeof audio);
    emit set_audio_encoder_settings(audio);
    REVideoEncoderSettings video;
    memset(&video, 0, sizeof video);
    emit set_video_encoder_settings(video);
    emit set_container_format(0);
    emit set_file_count(0);
    emit set_max_file_size_bytes(0);
}

QString MainWindow::getCurrentSavePath()
{
    return m_fileSysThread->getCurrentDir();
}

void MainWindow::setCurrentSavePath(QString path)
{
    m_fileSysThread->changeDir(path);
}

void MainWindow::wait(int ms)
{
    waitWithEvents(ms);
}

// ---- capture control ----

void MainWindow::sendCMDtoEngine(int workmode)
{
    // A tap meant to stop a recording that has just ended by itself waits
    // until the user has read that it ended.
    if (!m_engineObj->updateCapabilityCompleted() || galleryBusy() || (m_endedBox && m_endedBox->isVisible()))
        return;
    qDebug() << "current work mode is " << workmode << " (1:take a pic, 2: video recording)";
    if (m_cmdPending)
        return;
    const EngineState state = EngineAdapter::m_engineState;
    // A paused recording is still a recording: it is stopped, never replaced.
    // One stop is enough: another press while it drains changes nothing.
    if (state == RUNNING || state == PAUSE || m_snapAnimation) {
        if (workmode == VIDEO_MODE && m_stopAsked == StopCause::None)
            stopRecording(StopCause::User);
        return;
    }
    if (!m_videoThumbnailer->isCaptureDone())
        return;
    if (workmode == PHOTO_MODE) {
        if (prepareShapshot() == -1)
            return;
        emit sendSnapShotCmd();
        awaitEngine();
        startSnapShotFlight();
    } else if (workmode == VIDEO_MODE) {
        if (prepareRecording() == -1)
            return;
        m_stopAsked = StopCause::None;
        emit sendStartRecordingCmd();
        awaitEngine();
        m_updateMediaTimer.start();
    } else {
        qDebug("unknown work mode");
    }
}

// Requests run on the engine thread in the order sent, and its answers reach
// this thread in order: then runs here once everything asked before it has
// been carried out and answered.
void MainWindow::afterEngine(std::function<void()> then)
{
    MainWindow* window = this; // outlives the engine thread (joined on close)
    QMetaObject::invokeMethod(m_engineObj, [window, then] {
        QMetaObject::invokeMethod(window, then, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

// Only the answer to this capture frees the button: answers to earlier
// requests (a setting, an engine rebuild) arriving meanwhile would let a
// second press start a second recording.
void MainWindow::awaitEngine()
{
    setCommandPending(true);
    afterEngine([this] { setCommandPending(false); });
}

void MainWindow::setCommandPending(bool pending)
{
    m_cmdPending = pending;
    if (pending)
        m_cmdGuard.start();
    else
        m_cmdGuard.stop();
}

QString MainWindow::freeName(const QString& dir, const QString& stem, const QString& suffix)
{
    const QDir d(dir);
    QString name = stem + suffix;
    for (int n = 1; d.exists(name); ++n)
        name = stem + "_" + QString::number(n) + suffix;
    return name;
}

bool MainWindow::storageReady()
{
    Q_ASSERT(m_fileSysThread);
    double freeMb = 0;
    const QString problem = m_fileSysThread->checkBeforeCapture(&freeMb);
    if (!problem.isEmpty()) {
        const QString text = cannotSaveText(getCurrentSavePath(), problem);
        qWarning() << text;
        QMessageBox::warning(this, "Cannot save", text, QMessageBox::Ok);
        return false;
    }
    if (freeMb >= kLowStorageMb)
        return true;
    popStorageNotEnoughMsg(freeMb);
    return false;
}

int MainWindow::prepareShapshot()
{
    if (!storageReady())
        return -1;
    const QString dir = getCurrentSavePath();
    const QString stem = "dedavevuz_" + QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss");
    emit set_output_file_path(dir + "/" + freeName(dir, stem, ".jpg"));
    REOutputFileSettings out;
    memset(&out, 0, sizeof out);
    emit set_output_file_settings(out);
    return 1;
}

void MainWindow::startSnapShotFlight()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap pix = screen ? screen->grabWindow(m_previewWid, 0, 0, -1, -1) : QPixmap();
    auto* flight = new SnapShotAnimationWidget(pix, this);
    flight->setGeometry(m_previewWidget->geometry());
    flight->show();
    flight->raise();
    m_snapAnimation = new QPropertyAnimation(flight, "geometry", flight);
    connect(m_snapAnimation, &QPropertyAnimation::finished, flight, &QObject::deleteLater);
    connect(m_snapAnimation, &QPropertyAnimation::finished, m_snapAnimation, &QObject::deleteLater);
    ThumbnailButton* thumb = m_menuBar->thumbnailButton();
    m_snapAnimation->setDuration(700);
    m_snapAnimation->setStartValue(m_previewWidget->geometry());
    m_snapAnimation->setEndValue(QRect(mapFromGlobal(thumb->mapToGlobal(QPoint(0, 0))), thumb->size()));
    m_snapAnimation->setEasingCurve(QEasingCurve::InBack);
    m_snapAnimation->start();
}

int MainWindow::prepareRecording()
{
    if (!storageReady())
        return -1;
    const QString ext = m_containerFormat < 6 ? QString(kExtensions[m_containerFormat]) : QString();
    const QString stem = "dedavevuz_" + QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss");
    const QString dir = getCurrentSavePath();
    const bool split = m_fileCount != 0 && m_fileSize != 0;
    QString name;
    if (split) {
        const QString folder = freeName(dir, stem, QString());
        if (::mkdir(QFile::encodeName(dir + "/" + folder).constData(), 0777) != 0) {
            const QString text = cannotSaveText(dir, storageReason(errno));
            qWarning() << text;
            QMessageBox::warning(this, "Cannot save", text, QMessageBox::Ok);
            return -1;
        }
        qDebug() << "file saved path:  " + dir + "/" + folder;
        m_splitFolder = dir + "/" + folder;
        name = QString("%1/%2/%2.%3").arg(dir, folder, ext);
    } else {
        name = dir + "/" + freeName(dir, stem, "." + ext);
    }
    recordingFileName = name;
    m_recordingSplit = split;
    m_recordingStreamed = m_streaming;
    emit set_output_file_path(name);
    REOutputFileSettings out;
    memset(&out, 0, sizeof out);
    emit set_output_file_settings(out);
    return 1;
}

void MainWindow::engineWorkDone(int finishedOperation, int retval)
{
    if (finishedOperation == SNAPSHOT) {
        if (m_fileSysThread)
            m_fileSysThread->updateNameList();
    } else if (finishedOperation == RECORDING) {
        m_updateMediaTimer.stop();
        m_menuBar->stopWatch()->setTime(0);
        m_stopAsked = StopCause::None;
        // Taken before the wait: a capture started inside it names a new file.
        const QString recorded = recordingFileName;
        const bool split = m_recordingSplit;
        const bool rtp = m_recordingStreamed;
        wait(20);
        // The file may still be usable, and the thumbnailer copes with one
        // that is not.
        if (retval != 0)
            qWarning("the recording did not end cleanly (engine result %d); its thumbnail is asked anyway", retval);
        if (split) {
            const QString dir = recorded.left(recorded.lastIndexOf('/'));
            const QStringList ts = QDir(dir).entryList(QStringList() << "*.ts", QDir::Files, QDir::Time);
            if (ts.isEmpty())
                qDebug("No file generated! \n");
            else
                emit getThumbnail(dir + "/" + ts.last(), true);
        } else if (!rtp && !recorded.isEmpty()) {
            // A recording whose folder was removed is gone with it; asking
            // would only hold captures while the thumbnailer looks for it.
            if (QFileInfo(QFileInfo(recorded).path()).isDir())
                emit getThumbnail(recorded, false);
        }
    }
    qDebug("Engine Work Finished \n");
}

void MainWindow::askMissingThumbnail(QString video, bool multifiles)
{
    const EngineState state = EngineAdapter::m_engineState;
    if ((state == RUNNING || state == PAUSE)
        && VideoThumbnailer::thumbnailName(video, multifiles)
               == VideoThumbnailer::thumbnailName(recordingFileName, m_recordingSplit))
        return;
    VideoThumbnailer* thumbnailer = m_videoThumbnailer;
    QMetaObject::invokeMethod(thumbnailer, [=] { thumbnailer->addMissingThumbnail(video, multifiles); },
                              Qt::QueuedConnection);
}

void MainWindow::processPreviewWidgetClickEvent()
{
    if (EngineAdapter::m_workMode != VIDEO_MODE)
        return;
    if (EngineAdapter::m_engineState == RUNNING) {
        emit sendPauseRecordingCmd();
        m_updateMediaTimer.stop();
    } else if (EngineAdapter::m_engineState == PAUSE) {
        emit sendResumeRecordingCmd();
        m_updateMediaTimer.start();
    }
}

bool MainWindow::galleryBusy() const
{
    // The engine is closed while the player runs; nothing may be captured
    // while the gallery covers the preview either.
    return m_lookBackWidget && (!m_lookBackWidget->isHidden() || m_lookBackWidget->playerRunning());
}

void MainWindow::showLookBackWidget()
{
    if (m_lookBackWidget && !m_lookBackWidget->isHidden()) {
        if (m_lookBackWidget->playerRunning())
            return;
        m_lookBackWidget->hide();
        QColor key;
        ColorKey::color_key_to_qcolor(key);
        m_previewWidget->setBackgroundColor(key);
        m_menuBar->holdCapture(false);
        return;
    }
    // Only over an idle preview: a paused recording must not lose its
    // engine to the player.
    if (EngineAdapter::m_engineState != PREVIREW)
        return;
    if (!m_lookBackWidget) {
        m_lookBackWidget = new LookBackWidget(&m_lookBackNames, this);
        m_lookBackWidget->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        // A window of its own, so that it is drawn over the native preview.
        m_lookBackWidget->setAttribute(Qt::WA_NativeWindow);
    }
    // A fixed copy: the watcher's thread rebuilds its list at any time.
    const QString dir = getCurrentSavePath();
    m_lookBackNames.clear();
    for (const QString& name : m_fileSysThread->getNameList())
        m_lookBackNames << QDir(dir).absoluteFilePath(name);
    m_lookBackWidget->setGeometry(QRect(m_previewWidget->mapTo(this, QPoint(0, 0)), m_previewWidget->size()));
    m_lookBackWidget->show();
    m_lookBackWidget->raise();
    m_lookBackWidget->showOneImage(0);
    m_previewWidget->setBackgroundColor(Qt::black);
    m_menuBar->holdCapture(true);
}

void MainWindow::engineStateChanged(int state)
{
    // A recording that ended or never started stops the recording clock; a
    // split recording's folder that got no file (the start failed) goes.
    if (state == PREVIREW) {
        m_updateMediaTimer.stop();
        m_menuBar->stopWatch()->setTime(0);
        if (!m_splitFolder.isEmpty())
            QDir().rmdir(m_splitFolder);
        m_splitFolder.clear();
    }
    m_menuBar->snapshotButton()->updateColor();
}

void MainWindow::stopRecording(StopCause cause)
{
    m_stopAsked = cause;
    emit sendStopRecordingCmd();
}

void MainWindow::handleStorageNotEnough(double freesize)
{
    if (EngineAdapter::m_workMode != VIDEO_MODE || EngineAdapter::m_engineState != RUNNING
        || m_stopAsked != StopCause::None)
        return;
    stopForLowStorage(freesize);
}

void MainWindow::stopForLowStorage(double freeMb)
{
    stopRecording(StopCause::Storage);
    qWarning("recording stopped due to lacking storage.");
    popStorageNotEnoughMsg(freeMb);
}

void MainWindow::handleFolderMissing(QString path)
{
    const EngineState state = EngineAdapter::m_engineState;
    if (EngineAdapter::m_workMode != VIDEO_MODE || (state != RUNNING && state != PAUSE)
        || m_stopAsked != StopCause::None)
        return;
    stopRecording(StopCause::Storage);
    const QString text = cannotSaveText(path, storageReason(ENOENT));
    qWarning() << "recording stopped:" << text;
    QMessageBox::critical(this, "Recording stopped", text, QMessageBox::Ok);
}

void MainWindow::showRecordingEnded(int event)
{
    QString reason = "the duration limit was reached";
    if (event == RE_EVENT_MAX_FILESIZE)
        reason = m_recordingSplit ? "the file count was reached" : "the file size limit was reached";
    const QString text = "Recording ended: " + reason;
    qDebug() << text;
    // Not run in a local loop: the thumbnail of the recording goes on.
    m_endedBox = new QMessageBox(QMessageBox::Information, "Recording ended", text, QMessageBox::Ok, this);
    m_endedBox->setAttribute(Qt::WA_DeleteOnClose);
    m_endedBox->open();
}

void MainWindow::popStorageNotEnoughMsg(double mb)
{
    const QString text = QString("Storage is not enough, remains %1 MB").arg(mb, 0, 'g');
    qWarning() << text;
    QMessageBox::critical(this, "Storage is low", text, QMessageBox::Ok);
}

void MainWindow::handleEngineError(QString err, int level)
{
    Q_UNUSED(level);
    // During shutdown the window is hidden: a modal box would hold it up.
    // A stop made for storage has its own box already.
    if (!isVisible() || m_stopAsked == StopCause::Storage) {
        qWarning() << "Recorder Engine Error:" << err;
        return;
    }
    // An error while recording onto a disk that has filled up is told as
    // low storage, as the watcher would have.
    double freeMb = 0;
    if (m_updateMediaTimer.isActive() && m_fileSysThread->queryFreeSpace(&freeMb).isEmpty()
        && freeMb < kLowStorageMb) {
        qWarning() << "Recorder Engine Error:" << err;
        stopForLowStorage(freeMb);
        return;
    }
    QMessageBox::critical(this, "Recorder Engine Error", err, QMessageBox::Ok);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    // A second close (of the hidden window) finds the engine thread ended:
    // the blocking engine_close would never return.
    if (m_closed)
        return;
    m_closed = true;
    hide();
    if (EngineAdapter::m_engineState != PREVIREW) {
        m_updateMediaTimer.stop();
        emit sendStopRecordingCmd();
    }
    wait(60);
    // The stop's engineWorkDone (and its thumbnail request) must be seen
    // before the thumbnailer's thread ends.
    waitForEngine(15000);

    if (m_videoThumbnailerThread) {
        // Quit only after every thumbnail already asked for is made.
        QThread* t = m_videoThumbnailerThread;
        QMetaObject::invokeMethod(m_videoThumbnailer, [t]() { t->quit(); }, Qt::QueuedConnection);
        if (!t->wait(30000)) {
            t->quit();
            t->wait();
        }
    }

    emit engine_close();
    emit engine_destroy();
    waitForEngine(30000);

    m_engineThread->quit();
    m_engineThread->wait();

    if (m_fileSysThread) {
        m_fileSysThread->needQuit();
        m_fileSysThread->wait();
    }
}

void MainWindow::waitForEngine(int maxMs)
{
    auto done = QSharedPointer<bool>::create(false);
    afterEngine([done] { *done = true; });
    for (int waited = 0; !*done && waited < maxMs; waited += 25)
        wait(25);
}
