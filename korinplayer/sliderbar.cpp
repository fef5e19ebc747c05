#include "sliderbar.h"

#include "panelbackground.h"
#include "loadstylesheet.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSpacerItem>
#include <QStyle>
#include <QStyleOptionSlider>

qint64 SliderBar::currentTime = 0;
qint64 SliderBar::totalTime = 0;

Slider::Slider(QWidget* parent)
    : QSlider(parent)
{
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    if (event->button() == Qt::LeftButton && !handle.contains(event->pos())) {
        const qint64 span = qint64(maximum()) - minimum();
        qint64 value;
        if (orientation() == Qt::Horizontal)
            value = width() > 0 ? minimum() + span * event->pos().x() / width() : minimum();
        else
            value = height() > 0 ? minimum() + span * (height() - event->pos().y()) / height() : minimum();
        if (invertedAppearance())
            value = maximum() - value;
        if (value >= 0) {
            const int before = this->value();
            isNormalGoing = false;
            setValue(int(value));
            if (!isNormalGoing && this->value() == before) {
                isNormalGoing = true;
                emit grooveClickedAtValue(before);
            }
            event->accept();
            return;
        }
    }
    QSlider::mousePressEvent(event);
}

SliderBar::SliderBar(QWidget* parent)
    : QWidget(parent)
{
    QFont font(QStringLiteral("Tahoma"), 12, 75);
    QPalette pal;
    pal.setColor(QPalette::WindowText, Qt::white);

    currentTimeLabel = new QLabel(tr("00:00"), this);
    totalTimeLabel = new QLabel(tr("00:00"), this);
    for (QLabel* l : {currentTimeLabel, totalTimeLabel}) {
        l->setFont(font);
        l->setPalette(pal);
    }

    playedSlidr = new Slider(this);
    playedSlidr->setObjectName(QStringLiteral("playedSlidr"));
    playedSlidr->setOrientation(Qt::Horizontal);
    playedSlidr->setMinimumWidth(750);
    playedSlidr->setFocusPolicy(Qt::NoFocus);
    loadStyleSheet(QStringLiteral("qslider.qss"), playedSlidr);

    gridLayout = new QGridLayout(this);
    gridLayout->addWidget(currentTimeLabel, 0, 1);
    gridLayout->addWidget(playedSlidr, 0, 2);
    gridLayout->addWidget(totalTimeLabel, 0, 3);
    gridLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Fixed), 1, 2);
    gridLayout->setColumnStretch(2, 1);

    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setCursor(Qt::ArrowCursor);

    // Dragging only moves the elapsed label; the seek comes on release.
    connect(playedSlidr, &QSlider::sliderMoved, this, &SliderBar::updateDurationInfo);
    connect(playedSlidr, &QSlider::sliderReleased, this, [this] { emit sliderMoves(playedSlidr->value()); });
    connect(playedSlidr, &QSlider::valueChanged, this, [this](int v) {
        if (!playedSlidr->isSliderDown() && !playedSlidr->normalgoing()) {
            playedSlidr->setNormalgoing(true);
            emit sliderMoves(v);
        }
    });
    connect(playedSlidr, &Slider::grooveClickedAtValue, this, &SliderBar::sliderMoves);

    if (currentTime != 0)
        updateDurationInfo(int(currentTime));
}

QString SliderBar::formatTime(qint64 seconds, qint64 total)
{
    if (seconds < 0)
        seconds = 0;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (total >= 3600)
        return QString::asprintf("%02lld:%02lld:%02lld", h, m, s);
    return QString::asprintf("%02lld:%02lld", m, s);
}

void SliderBar::durationChanged(qint64 duration)
{
    if (duration < 0)
        return;
    totalTime = duration / 1000;
    playedSlidr->setMaximum(int(qMin<qint64>(totalTime, INT_MAX)));
    updateDurationInfo(int(currentTime));
}

void SliderBar::positionChanged(qint64 progress)
{
    currentTime = progress / 1000;
    if (!playedSlidr->isSliderDown())
        playedSlidr->setValue(int(qMin<qint64>(currentTime, INT_MAX)));
    updateDurationInfo(int(currentTime));
}

void SliderBar::updateDurationInfo(int currentInfo)
{
    QString elapsed = tr("00:00"), total = tr("00:00");
    if (currentInfo != 0 || totalTime != 0) {
        elapsed = formatTime(currentInfo, totalTime);
        total = formatTime(totalTime, totalTime);
    }
    currentTimeLabel->setText(elapsed);
    totalTimeLabel->setText(total);
}

void SliderBar::paintEvent(QPaintEvent* event)
{
    paintPanelBackground(this, color);
    QWidget::paintEvent(event);
}
