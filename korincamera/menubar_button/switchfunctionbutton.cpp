#include "switchfunctionbutton.h"

#include <QPainter>
#include <QResizeEvent>

#include "engine_adapter.h"

SwitchFunctionButton::SwitchFunctionButton(QWidget* parent)
    : QToolButton(parent)
    , m_videoIcon(":/image/videorecord.png")
    , m_phtotIcon(":/image/takephoto.png")
{
    m_imgToShow = m_phtotIcon.copy();
    setStyleSheet("QToolButton {border: none;min-height: 55px;min-width:65px}");
    m_timeLine.setDuration(1000);
    m_timeLine.setFrameRange(0, 100);
    connect(&m_timeLine, &QTimeLine::frameChanged, this, &SwitchFunctionButton::changeIcon);
    connect(this, &QToolButton::clicked, this, &SwitchFunctionButton::startChangeIcon);
}

int SwitchFunctionButton::getWorkMode()
{
    return EngineAdapter::m_workMode.load();
}

void SwitchFunctionButton::setWorkMode(int mode)
{
    EngineAdapter::m_workMode.store(static_cast<WorkMode>(mode));
}

QImage SwitchFunctionButton::changeImage()
{
    if (getWorkMode() == VIDEO_MODE) {
        setWorkMode(PHOTO_MODE);
        return m_phtotIcon;
    }
    setWorkMode(VIDEO_MODE);
    return m_videoIcon;
}

void SwitchFunctionButton::startChangeIcon()
{
    if (EngineAdapter::m_engineState == RUNNING || m_timeLine.state() == QTimeLine::Running)
        return;
    m_iconChanged = false;
    const double w = width();
    const double e = m_timeLine.endFrame();
    a1 = float((w - 1) / (1 - e / 2));
    b1 = float(w - a1);
    a2 = float(2 * (w - 1) / e);
    b2 = float(w - e * a2);
    m_timeLine.start();
}

void SwitchFunctionButton::changeIcon(int frame)
{
    int newWidth;
    if (frame < m_timeLine.endFrame() / 2) {
        newWidth = int(a1 * frame + b1);
    } else {
        if (!m_iconChanged) {
            m_imgToShow = changeImage();
            m_iconChanged = true;
        }
        newWidth = int(a2 * frame + b2);
    }
    if (newWidth == 0)
        newWidth = 1;
    const QImage& icon = getWorkMode() == PHOTO_MODE ? m_phtotIcon : m_videoIcon;
    m_imgToShow = icon.scaled(newWidth, height(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    update();
}

void SwitchFunctionButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage((width() - m_imgToShow.width()) / 2, 0, m_imgToShow);
}

void SwitchFunctionButton::resizeEvent(QResizeEvent* event)
{
    m_imgToShow = m_imgToShow.scaled(event->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    event->accept();
}
