#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QHBoxLayout>
#include <QMainWindow>
#include <functional>
#include <QMessageBox>
#include <QPointer>
#include <QPropertyAnimation>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include "engine_adapter.h"

class PreviewWidget;
class CameraMenuBar;
#include "filesystemwatcher.h"
class VideoThumbnailer;
class LookBackWidget;
class QCloseEvent;

// The camera's top-level window: preview, side menu bar, and the owner of
// the engine, thumbnailer and storage watcher threads.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(QStringList devlist, int cameraId, QWidget* parent = nullptr);
    ~MainWindow() override;

    QString getCurrentSavePath();
    void setCurrentSavePath(QString path);
    EngineAdapter* engineAdapter() const { return m_engineObj; }
    FileSystemWatcher* storageWatcher() const { return m_fileSysThread; }
    PreviewWidget* previewWidget() const { return m_previewWidget; }
    CameraMenuBar* cameraMenuBar() const { return m_menuBar; }
    VideoThumbnailer* videoThumbnailer() const { return m_videoThumbnailer; }
    QStringList deviceList() const { return m_devlist; }
    LookBackWidget* lookBackWidget() const { return m_lookBackWidget; }

signals:
    void sendSnapShotCmd();
    void sendStartRecordingCmd();
    void sendStopRecordingCmd();
    void sendPauseRecordingCmd();
    void sendResumeRecordingCmd();
    void engine_create(bool force);
    void engine_init();
    void engine_prepare(bool updateCaps);
    void engine_destroy();
    void engine_close();
    void set_audio_source(REuint32 source = 0);
    void set_audio_sample_rate(REuint32 rate = 0);
    void set_audio_channel(REuint32 channel = 0);
    void set_video_source(REuint32 source = 0);
    void set_camera_id(REuint32 id = 0);
    void set_camera_output_settings(RERawVideoSettings settings);
    void set_preview_region(REVideoRect rect);
    void set_preview_win_id(WId id);
    void need_preview_buffer(REuint32 need = 0);
    void set_audio_encoder_settings(REAudioEncoderSettings settings);
    void set_video_encoder_settings(REVideoEncoderSettings settings);
    void set_container_format(REuint32 format = 0);
    void get_media_time();
    void set_output_file_path(QString path);
    void set_file_count(REuint32 count = 0);
    void set_output_file_settings(REOutputFileSettings settings);
    void set_rtp_host(QString host, REuint32 port = 0);
    void disable_viewfinder(bool disable);
    void set_max_file_duration(REtime duration = 0);
    void set_max_file_size_bytes(REuint64 size = 0);
    void get_camera_capebilities();
    void reset();
    void add_video_effect(REuint32 effect = 0);
    void add_time_stamp(bool enable = false);
    void getThumbnail(QString filepath, bool multifiles);

public slots:
    void sendCMDtoEngine(int workmode);
    void engineWorkDone(int finishedOperation, int retval);
    void processPreviewWidgetClickEvent();
    void showLookBackWidget();
    void engineStateChanged(int state);
    void handleStorageNotEnough(double freesize);
    void handleEngineError(QString err, int level);
    // A recording found without its picture; the one being recorded gets
    // its picture when it stops.
    void askMissingThumbnail(QString video, bool multifiles);
    // The save folder vanished: a recording into it is stopped.
    void handleFolderMissing(QString path);
    // The engine ended the recording at a limit (an engine event code).
    void showRecordingEnded(int event);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Why a recording is being stopped: the window's own storage boxes
    // explain a stop it made, so the engine's words on it are not shown.
    enum class StopCause { None, User, Storage };

    void createEngine(int cameraId);
    void registerMetaType();
    int connectSingals();
    // Keeps the capture settings as last sent: the engine applies them in
    // order before the capture that follows, so captures are named by them.
    void followCaptureSettings();
    // False, after a box saying why, when nothing can be saved now: the save
    // folder is missing (and cannot be made again), its free space cannot
    // be read, or less than 50 MB are free.
    bool storageReady();
    void stopRecording(StopCause cause);
    void stopForLowStorage(double freeMb);
    // Runs the UI's events until the engine thread has done everything
    // asked of it so far (at most maxMs).
    void waitForEngine(int maxMs);
    int prepareShapshot();
    int prepareRecording();
    void popStorageNotEnoughMsg(double mb);
    void startSnapShotFlight();
    void wait(int ms);
    // A capture command is on its way to the engine: further presses wait
    // for its answer (state change, work done or error) or the guard timeout.
    void afterEngine(std::function<void()> then);
    void awaitEngine();
    void setCommandPending(bool pending);
    // stem + suffix, or stem_1 + suffix, stem_2 + suffix... whichever does
    // not exist yet in dir.
    static QString freeName(const QString& dir, const QString& stem, const QString& suffix);
    bool galleryBusy() const;

    EngineAdapter* m_engineObj = nullptr;
    QStringList m_devlist;
    WId m_previewWid = 0;
    CameraMenuBar* m_menuBar = nullptr;
    QWidget* m_centralWidget = nullptr;
    PreviewWidget* m_previewWidget = nullptr;
    QTimer m_updateMediaTimer;
    QHBoxLayout* m_layout = nullptr;
    QPointer<QPropertyAnimation> m_snapAnimation;
    QPointer<FileSystemWatcher> m_fileSysThread;
    QPointer<QThread> m_engineThread;
    VideoThumbnailer* m_videoThumbnailer = nullptr;
    QPointer<QThread> m_videoThumbnailerThread;
    QString recordingFileName;
    // The recording under way or last made.
    bool m_recordingSplit = false;
    bool m_recordingStreamed = false;
    QString m_splitFolder; // made for it; removed again if left empty
    StopCause m_stopAsked = StopCause::None;
    QPointer<QMessageBox> m_endedBox; // "Recording ended", the last shown
    // Capture settings as last sent to the engine.
    REuint32 m_containerFormat = 0;
    REuint32 m_fileCount = 0;
    REuint64 m_fileSize = 0;
    bool m_streaming = false;
    bool m_cmdPending = false;
    bool m_closed = false; // the shutdown has run
    QTimer m_cmdGuard;
    LookBackWidget* m_lookBackWidget = nullptr;
    QStringList m_lookBackNames; // the gallery's copy of the watcher's list
};

#endif
