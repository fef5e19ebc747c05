#ifndef KORIN_PLAYCONTROL_H
#define KORIN_PLAYCONTROL_H

#include <QColor>
#include <QQueue>
#include <QWidget>
#include <gst/gst.h>

class QAbstractButton;
class QGridLayout;

// The row of transport buttons. It only reports presses; the main window
// drives the engine and pushes the resulting state back with setState().
class PlayControl : public QWidget
{
    Q_OBJECT
public:
    explicit PlayControl(QWidget* parent = nullptr);

    GstState getState() const { return playerState; }
    bool isMuted() const { return playerMuted; }
    qreal playbackRate() const { return curRate; }
    void initPlayRewindRate();
    void initPlayForwardRate();
    void initPlayRateQueue();

    GstState playerState = GST_STATE_NULL;
    bool playerMuted = false;
    qreal curRate = 1.0;
    Qt::AspectRatioMode aspectMode = Qt::KeepAspectRatio;
    QGridLayout* gridLayout = nullptr;
    QAbstractButton* previousButton = nullptr;
    QAbstractButton* fastRewindBtn = nullptr;
    QAbstractButton* playButton = nullptr;
    QAbstractButton* stopButton = nullptr;
    QAbstractButton* repeatButton = nullptr;
    QAbstractButton* fastForwardBtn = nullptr;
    QAbstractButton* nextTrackBtn = nullptr;
    QAbstractButton* infoButton = nullptr;
    QAbstractButton* fullScreenBtn = nullptr;
    QAbstractButton* volButtom = nullptr;
    QQueue<double> playRewindRate;
    QQueue<double> playForwardRate;
    QColor color;

signals:
    void play();
    void go_on();
    void pause();
    void stop();
    void previousTrack();
    void nextTrack();
    void stepBackward();
    void stepForward();
    void openSeekDialog();
    void changeRate(qreal rate);
    void repeatButtonClicked();
    void infoButtonClicked();
    void fullSrceenBtnClicked();
    void volBtnClicked();
    void setAspectMode(Qt::AspectRatioMode mode);

public slots:
    void setPlayRewindRate();
    void setPlayForwardRate();
    void playClicked();
    void aspectButtonClicked();
    void setState(GstState state);
    void setMuted(bool mute);

protected:
    void paintEvent(QPaintEvent* event) override;
};

#endif
