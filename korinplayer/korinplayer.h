#ifndef KORIN_KORINPLAYER_H
#define KORIN_KORINPLAYER_H

#include <QFont>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QMediaContent>
#include <QMediaPlaylist>
#include <QPointer>
#include <QColor>
#include <QSize>
#include <QTime>
#include <QUrl>

#include "playengine.h"
#include "readdir.h"
#include "subtitle.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class PlaylistWidget;
class MediaInfoWidget;
class SubtitlePollingThread;
class QTimer;
class PlayControl;
class SeekDialog;
class SliderBar;
class VideoFrame;
class VideoWidget;
class VolumWidget;

enum MediaType { AUDIO_TYPE = 0, VIDEO_TYPE = 1, UNKNOW_TYPE = 2 };

// Bit values: m_useSinks is a set of them.
enum VideoSink {
    UNKONWNSINK = 0,
    OVERLAYSINK = 1,
    GLIMAGESINK = 2,
    KORINV4l2SINK = 4,
    XIMAGESINK = 8,
    FAKESINK = 16
};

// The main window's central widget; reports its size so the floating
// control bars can follow it.
class Widget : public QWidget
{
    Q_OBJECT
public:
    explicit Widget(QWidget* parent = nullptr)
        : QWidget(parent)
    {
    }

signals:
    void sizeChanged(QSize size);

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// Gray strip holding the menu buttons.
class MenuBar : public QWidget
{
    Q_OBJECT
public:
    explicit MenuBar(QWidget* parent = nullptr)
        : QWidget(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override;
};

class korinplayer : public QMainWindow
{
    Q_OBJECT
public:
    explicit korinplayer(QWidget* parent = nullptr);
    ~korinplayer() override;

    void analyzeCommandLine();
    void addFile(const QString& path, bool play);
    void addToPlaylist(const QString& path);
    int addToPlaylist(const QStringList& list);
    // Returns the scan, already running.
    ReadDir* startReadDir(const QString& folder, bool play, bool recursive);

    VideoSink detectSOC();
    void createPlayEngine(VideoSink sink);
    void reCreatePipeline();
    int preLoadFile(const QString& path);
    int getVideoThumbnail();
    void changetoFull();
    void changetoNormal();
    // Adds files from the file dialog; with play, the last one is played.
    void openFiles(const QStringList& files, bool play);
    // The view entries of the menus; each also runs from its menu action.
    void resizeRender(int fraction); // 1 full window, 2 half, 4 quarter
    void moveRender(int dx, int dy); // steps of 50 pixels
    void aspectEntry(int entry);     // 0 original ratio, 1 full fill, 2 original size
    void stopScans();
    // A finished scan's batch, on this thread; skipped once the scan was
    // told to quit (the window is closing or the scan timed out).
    void insertScanBatch(QPointer<ReadDir> scan, QList<QMediaContent> batch, bool playNow);

    void prepareBeforePlay(PlayControl* control);
    void wait(int ms);

    // The player's keys, wherever the focus is in this window.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Engine events arrive on an engine thread; context is the window.
    static void event_callback(void* context, EventType event, void* data);

    PlayEngine* engine = nullptr;
    VideoFrame* videoWidget = nullptr;
    QSize videoWidgetSizeBeforeFull = QSize(-1, -1);
    VideoWidget* renderVideoWidget = nullptr;
    PlaylistWidget* playlistWidget = nullptr;
    QList<ReadDir*> dirThreadRunList;
    Widget* centralWidget = nullptr;
    QMediaPlaylist* playlist = nullptr;
    QImage* imageInfo = nullptr;
    QWidget* rateWidget = nullptr;
    QLabel* ratelabel = nullptr;
    SliderBar* sliderBar = nullptr;
    QWidget* blankWidget = nullptr;
    VolumWidget* volumWidget = nullptr;
    PlayControl* playControl = nullptr;
    bool isConnect = false;
    QTimer* timer = nullptr;
    QTimer* changeFullTimer = nullptr;
    QTimer* panelDisappearInFull = nullptr;
    int rotation = 0;
    VideoSink m_sink = UNKONWNSINK;
    VideoSink m_preSink = UNKONWNSINK;
    unsigned int m_useSinks = 0;
    bool showBarInFull = false;
    bool accurateSeek = false;
    bool isGetThumbnail = false;
    bool isThumbnailShown = false;
    bool updateMediaInfo = false;
    bool isRecursionDir = false;
    bool subtitle_on = false;
    bool external_subtitle_loaded = false;
    bool render_subtitle_by_ui = false;
    bool renderSubWaysChanged = false;
    WId winID = 0;
    QString dirPath;
    korin_metadata metadata;
    qint32 window_w = 0;
    qint32 window_h = 0;
    MediaType mediaType = UNKNOW_TYPE;
    // Subtitle look; the Subtitle menu edits them.
    QFont subtitle_font;
    QColor subtitle_color;
    QColor subtitle_outline_color;
    bool subtitle_shaded_background = false;
    SubPosition subPos = BUTTON_CENTRAL;
    SubtitlePollingThread* subtitleThread = nullptr;
    SubTitleWidget* subtitle = nullptr;
    QTimer* subtitle_disp_timer = nullptr;
    // pts of the line on screen: a line polled again keeps its timer.
    quint64 shownSubtitlePts = ~quint64(0);
    // The media information panel, null while closed.
    MediaInfoWidget* infoWidget = nullptr;

    // "Render Subtitle by UI" (object name "menuRenderSubOpt"); the menus
    // put it on screen.
    QAction* menuRenderSubOpt = nullptr;
    // The open seek dialog, if any; it deletes itself when closed.
    QPointer<SeekDialog> seekDialog;
    // URL of the file the current engine holds (empty after a rebuild).
    QUrl engineFile;
    QMenu* menuVideo = nullptr;
    QMenu* menuAudio = nullptr;
    QMenu* menuSubtitle = nullptr;
    QActionGroup* videoTrackGroup = nullptr;
    QActionGroup* audioTrackGroup = nullptr;
    QActionGroup* subtitleTrackGroup = nullptr;

    void initRenderSubtitleWays();
    void tryLoadLocalSubtitle(const QString& filename);
    // set_file with location, then its subtitles and the subtitle style.
    void setEngineFile(const QString& location, const QUrl& url);
    void adjustSubRenderByGst(SubPosition pos);
    // With engine rendering: subtitle_on follows the track the engine shows.
    void followEngineSubtitle();
    void QFont2PangoFontDescription(QFont& font, QString& pangoStr);
    // The subtitle thread: joined before its engine goes away, started
    // after a file is loaded or played with interface rendering.
    void stopSubtitleThread();
    void startSubtitleThread();
    void hideSubtitle();
    // The rectangle the subtitle widget is centred in, in central widget
    // coordinates.
    QRect subtitleArea() const;
    // Centres the subtitle widget in subtitleArea(); with show, shows it
    // again when its line is still on.
    void placeSubtitle(bool show);

signals:
    void durationChanged(qint64 duration);
    void positionChanged(qint64 pos);
    void playIndex(int index);
    void errorOccur(QString str);
    void updateInformation();
    void stopPlay();
    // Internal: end of stream, carried to the interface thread.
    void endOfStream();

public slots:
    void showError(QString str);
    void play(int index);
    void pause();
    bool stop();
    void nextToPlay(int index);
    void updateTime();
    void seekBySlider(int seconds);
    void showRateWidget(qreal rate);
    bool setPlaybackRate(qreal rate);
    void stepForward();
    void stepRewind();
    void setRepeatMode();
    void changeRepeatMode(PlayControl* control);
    void openSeekDialog();
    void setTitle(QMediaContent mediaContent);
    void showVolumWidget();
    void updateInfo();
    void showMediaInfo();
    void subtitle_disp(QByteArray text, quint64 pts, quint64 dur);
    void changeFullOrNormal();
    void adjustRenderRect(QSize size);
    void changeControlBarPos(QSize size);
    void openFile(bool byPlaylist);
    void openDir(bool byPlaylist);
    void showPlaylist();
    void about();
    void rotate(int degree);
    void adjustAspectPlayPos(Qt::AspectRatioMode mode);
    void panelInFullscreen(bool isShow);
    void playlistPositionChanged(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void startPlaying();
    void resume();
    void playNextAfterEos();
    void changeRate(qreal rate);

private:
    void createMenuBar();
    void fillTrackMenu(QMenu* menu, bool video);
    void buildSinkMenu(QMenu* menu);
    void createShortcuts();
    void fillSubtitleMenu();
    void destroyEngine();
    bool forcedAccurateSeek() const;
    void seekToNanoseconds(qint64 position, bool accurate);
    // Seeks from the current position by delta nanoseconds.
    void stepBy(qint64 delta);
    bool handleKey(int key);
    // Volume by percent points, mute flipped: through the pop-up when open.
    void changeVolumeBy(int percent);
    void toggleMute();
    void hideRateWidget(bool resetEngineRate);
    void deleteImageInfo();
};

#endif
