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

#include "colorkey.h"
#include "eventwait.h"
#include "filesystemwatcher.h"
#include "lookbackwidget.h"
#include "menubar.h"
#include "previewwidget.h"
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

bool MainWindow::splitRecording()
{
    std::lock_guard<std::mutex> lock(*m_engineObj->optionsMutex());
    const REOptions* o = m_engineObj->getOptions();
    return o->file_count != 0 && o->file_size != 0;
}

// ---- capture control ----

void MainWindow::sendCMDtoEngine(int workmode)
{
    if (!m_engineObj->updateCapabilityCompleted() || galleryBusy())
        return;
    qDebug() << "current work mode is " << workmode << " (1:take a pic, 2: video recording)";
    if (m_cmdPending)
        return;
    const EngineState state = EngineAdapter::m_engineState;
    // A paused recording is still a recording: it is stopped, never replaced.
    if (state == RUNNING || state == PAUSE || m_snapAnimation) {
        if (workmode == VIDEO_MODE) {
            setCommandPending(true);
            emit sendStopRecordingCmd();
        }
        return;
    }
    if (!m_videoThumbnailer->isCaptureDone())
        return;
    if (workmode == PHOTO_MODE) {
        if (prepareShapshot() == -1)
            return;
        setCommandPending(true);
        emit sendSnapShotCmd();
        startSnapShotFlight();
    } else if (workmode == VIDEO_MODE) {
        if (prepareRecording() == -1)
            return;
        setCommandPending(true);
        emit sendStartRecordingCmd();
        m_updateMediaTimer.start();
    } else {
        qDebug("unknown work mode");
    }
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

bool MainWindow::storageIsShort()
{
    Q_ASSERT(m_fileSysThread);
    const double freeMb = double(FileSystemWatcher::getFreeSpace()) * (1.0 / 1048576.0);
    if (freeMb >= kLowStorageMb)
        return false;
    popStorageNotEnoughMsg(freeMb);
    return true;
}

int MainWindow::prepareShapshot()
{
    if (storageIsShort())
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
    if (storageIsShort())
        return -1;
    REuint32 container;
    {
        std::lock_guard<std::mutex> lock(*m_engineObj->optionsMutex());
        container = m_engineObj->getOptions()->container_format;
    }
    const QString ext = container < 6 ? QString(kExtensions[container]) : QString();
    const QString stem = "dedavevuz_" + QDateTime::currentDateTime().toString("yyyyMMdd_hhmmss");
    const QString dir = getCurrentSavePath();
    QString name;
    if (splitRecording()) {
        const QString folder = freeName(dir, stem, QString());
        if (!QDir(dir).mkdir(folder)) {
            const QString text = QString("Cannot create the folder %1 for the recording").arg(dir + "/" + folder);
            qWarning() << text;
            QMessageBox::critical(this, "Cannot save recording", text, QMessageBox::Ok);
            return -1;
        }
        qDebug() << "file saved path:  " + dir + "/" + folder;
        name = QString("%1/%2/%2.%3").arg(dir, folder, ext);
    } else {
        name = dir + "/" + freeName(dir, stem, "." + ext);
    }
    recordingFileName = name;
    emit set_output_file_path(name);
    REOutputFileSettings out;
    memset(&out, 0, sizeof out);
    emit set_output_file_settings(out);
    return 1;
}

void MainWindow::engineWorkDone(int finishedOperation, int retval)
{
    setCommandPending(false);
    if (finishedOperation == SNAPSHOT) {
        if (m_fileSysThread)
            m_fileSysThread->updateNameList();
    } else if (finishedOperation == RECORDING) {
        m_updateMediaTimer.stop();
        m_menuBar->stopWatch()->setTime(0);
        // Taken before the wait: a capture started inside it names a new file.
        const QString recorded = recordingFileName;
        const bool split = splitRecording();
        bool rtp;
        {
            std::lock_guard<std::mutex> lock(*m_engineObj->optionsMutex());
            rtp = m_engineObj->getOptions()->host[0] != '\0';
        }
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
               == VideoThumbnailer::thumbnailName(recordingFileName, splitRecording()))
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
    setCommandPending(false);
    // A recording that ended or never started stops the recording clock.
    if (state == PREVIREW) {
        m_updateMediaTimer.stop();
        m_menuBar->stopWatch()->setTime(0);
    }
    m_menuBar->snapshotButton()->updateColor();
}

void MainWindow::handleStorageNotEnough(double freesize)
{
    if (EngineAdapter::m_workMode != VIDEO_MODE || EngineAdapter::m_engineState != RUNNING)
        return;
    emit sendStopRecordingCmd();
    qWarning("recording stopped due to lacking storage.");
    popStorageNotEnoughMsg(freesize);
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
    setCommandPending(false);
    if (!isVisible()) {
        // During shutdown the window is hidden: a modal box would hold it up.
        qWarning() << "Recorder Engine Error:" << err;
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
    bool stopping = false;
    auto stopDone = QSharedPointer<std::atomic<bool>>::create(false);
    QMetaObject::Connection stopSeen;
    if (EngineAdapter::m_engineState != PREVIREW) {
        m_updateMediaTimer.stop();
        stopping = true;
        // The stop's engineWorkDone (and its thumbnail request) must be seen
        // before the thumbnailer's thread ends.
        stopSeen = connect(m_engineObj, &EngineAdapter::engineWorkDone, this,
                           [stopDone](int op, int) { if (op == RECORDING) *stopDone = true; },
                           Qt::QueuedConnection);
        emit sendStopRecordingCmd();
    }
    wait(60);
    if (stopping) {
        for (int waited = 0; !*stopDone && waited < 15000; waited += 25)
            wait(25);
        disconnect(stopSeen);
        wait(25); // lets engineWorkDone above ask for the thumbnail
    }

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
    auto destroyed = QSharedPointer<std::atomic<bool>>::create(false);
    emit engine_destroy();
    QMetaObject::invokeMethod(m_engineObj, [destroyed]() { *destroyed = true; }, Qt::QueuedConnection);
    for (int waited = 0; (!*destroyed || EngineAdapter::m_engineState == RUNNING) && waited < 30000; waited += 25)
        wait(25);

    m_engineThread->quit();
    m_engineThread->wait();

    if (m_fileSysThread) {
        m_fileSysThread->needQuit();
        m_fileSysThread->wait();
    }
}
