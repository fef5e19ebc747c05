#include "playcontrol.h"

#include "panelbackground.h"

#include <QGridLayout>
#include <QPushButton>
#include <QToolButton>

namespace {
const char* const kButtonSheet = "min-height:42px;min-width:42px;max-width:42px;max-height:42px";

template <class B>
B* makeButton(QWidget* parent, const char* icon, bool enabled)
{
    B* b = new B(parent);
    b->setIcon(QIcon(QString::fromLatin1(icon)));
    b->setIconSize(QSize(42, 42));
    b->setStyleSheet(QString::fromLatin1(kButtonSheet));
    b->setEnabled(enabled);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}
} // namespace

PlayControl::PlayControl(QWidget* parent)
    : QWidget(parent)
{
    gridLayout = new QGridLayout(this);
    gridLayout->setSpacing(2);

    previousButton = makeButton<QPushButton>(this, ":image/previous.png", true);
    fastRewindBtn = makeButton<QPushButton>(this, ":image/fast-backward.png", false);
    playButton = makeButton<QToolButton>(this, ":image/play.png", true);
    stopButton = makeButton<QPushButton>(this, ":image/stop.png", false);
    fastForwardBtn = makeButton<QPushButton>(this, ":image/fast-forward.png", false);
    nextTrackBtn = makeButton<QPushButton>(this, ":image/next-track.png", true);
    infoButton = makeButton<QPushButton>(this, ":image/info.png", true);
    repeatButton = makeButton<QPushButton>(this, ":image/repeat-off.png", true);
    fullScreenBtn = makeButton<QPushButton>(this, ":image/full-screen.png", true);
    volButtom = makeButton<QPushButton>(this, ":image/volume.png", true);

    previousButton->setToolTip(tr("Previous"));
    fastRewindBtn->setToolTip(tr("Fast backward"));
    playButton->setToolTip(tr("Play / pause"));
    stopButton->setToolTip(tr("Stop"));
    fastForwardBtn->setToolTip(tr("Fast forward"));
    nextTrackBtn->setToolTip(tr("Next"));
    infoButton->setToolTip(tr("Information"));
    repeatButton->setToolTip(tr("Repeat mode"));
    fullScreenBtn->setToolTip(tr("Full screen"));
    volButtom->setToolTip(tr("Volume"));

    QAbstractButton* row[] = {previousButton, fastRewindBtn, playButton, stopButton, fastForwardBtn,
                              nextTrackBtn, infoButton, repeatButton, fullScreenBtn, volButtom};
    const char* const names[] = {"previousButton", "fastRewindBtn", "playButton", "stopButton",
                                 "fastForwardBtn", "nextTrackBtn", "infoButton", "repeatButton",
                                 "fullScreenBtn", "volButtom"};
    for (int i = 0; i < 10; ++i) {
        row[i]->setObjectName(QLatin1String(names[i]));
        gridLayout->addWidget(row[i], 0, i + 1);
    }
    gridLayout->setColumnStretch(0, 1);
    gridLayout->setColumnStretch(11, 1);

    connect(previousButton, &QAbstractButton::clicked, this, &PlayControl::previousTrack);
    connect(fastRewindBtn, &QAbstractButton::clicked, this, &PlayControl::setPlayRewindRate);
    connect(playButton, &QAbstractButton::clicked, this, &PlayControl::playClicked);
    connect(stopButton, &QAbstractButton::clicked, this, &PlayControl::stop);
    connect(fastForwardBtn, &QAbstractButton::clicked, this, &PlayControl::setPlayForwardRate);
    connect(nextTrackBtn, &QAbstractButton::clicked, this, &PlayControl::nextTrack);
    connect(infoButton, &QAbstractButton::clicked, this, &PlayControl::infoButtonClicked);
    connect(repeatButton, &QAbstractButton::clicked, this, &PlayControl::repeatButtonClicked);
    connect(fullScreenBtn, &QAbstractButton::clicked, this, &PlayControl::fullSrceenBtnClicked);
    connect(volButtom, &QAbstractButton::clicked, this, &PlayControl::volBtnClicked);

    setSizePolicy(QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed, QSizePolicy::DefaultType));
    setCursor(Qt::ArrowCursor);
    initPlayRewindRate();
    initPlayForwardRate();
}

void PlayControl::initPlayRewindRate()
{
    playRewindRate.clear();
    for (double r : {-2.0, -4.0, -8.0, -16.0, 1.0})
        playRewindRate.enqueue(r);
}

void PlayControl::initPlayForwardRate()
{
    playForwardRate.clear();
    for (double r : {0.5, 1.0, 1.5, 2.0, 4.0, 8.0, 16.0, 1.0})
        playForwardRate.enqueue(r);
}

void PlayControl::initPlayRateQueue()
{
    initPlayRewindRate();
    initPlayForwardRate();
}

void PlayControl::setPlayRewindRate()
{
    curRate = playRewindRate.dequeue();
    playRewindRate.enqueue(curRate);
    emit changeRate(curRate);
    initPlayForwardRate();
}

void PlayControl::setPlayForwardRate()
{
    curRate = playForwardRate.dequeue();
    playForwardRate.enqueue(curRate);
    emit changeRate(curRate);
    initPlayRewindRate();
}

void PlayControl::playClicked()
{
    switch (playerState) {
    case GST_STATE_PAUSED:
        emit go_on();
        break;
    case GST_STATE_PLAYING:
        emit pause();
        break;
    case GST_STATE_NULL:
        emit play();
        break;
    default:
        break;
    }
}

void PlayControl::aspectButtonClicked()
{
    aspectMode = aspectMode == Qt::KeepAspectRatio ? Qt::IgnoreAspectRatio : Qt::KeepAspectRatio;
    emit setAspectMode(aspectMode);
}

void PlayControl::setState(GstState state)
{
    if (state == playerState)
        return;
    playerState = state;
    switch (state) {
    case GST_STATE_PAUSED:
    case GST_STATE_PLAYING:
    case GST_STATE_NULL: {
        const bool loaded = state != GST_STATE_NULL;
        stopButton->setEnabled(loaded);
        fastRewindBtn->setEnabled(loaded);
        fastForwardBtn->setEnabled(loaded);
        playButton->setIcon(QIcon(state == GST_STATE_PLAYING ? QStringLiteral(":image/pause.png")
                                                             : QStringLiteral(":image/play.png")));
        break;
    }
    default:
        break;
    }
}

void PlayControl::setMuted(bool mute)
{
    if (mute != playerMuted)
        playerMuted = mute;
}

void PlayControl::paintEvent(QPaintEvent* event)
{
    paintPanelBackground(this, color);
    QWidget::paintEvent(event);
}
