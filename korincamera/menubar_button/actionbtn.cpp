#include "actionbtn.h"

#include <QBitmap>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "engine_adapter.h"

namespace {
const QColor kPreviewColor(50, 180, 222);
}

ActionBtn::ActionBtn(QWidget* parent)
    : QToolButton(parent)
{
    setStyleSheet("QToolButton {border: none;min-height: 75px;min-width:75px}");
    m_showColor = kPreviewColor;
    const QImage mask(":/image/shapshot_mask.png");
    if (!mask.isNull()) {
        const QPixmap shape = QPixmap::fromImage(
            mask.scaled(sizeHint(), Qt::KeepAspectRatio, Qt::FastTransformation));
        setMask(shape.mask());
    }
}

void ActionBtn::updateColor()
{
    switch (EngineAdapter::m_engineState.load()) {
    case PREVIREW: m_showColor = kPreviewColor; break;
    case RUNNING: m_showColor = Qt::red; break;
    case PAUSE: m_showColor = Qt::green; break;
    default: break;
    }
    update();
}

void ActionBtn::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_showColor);
}
