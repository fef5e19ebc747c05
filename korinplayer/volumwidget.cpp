#include "volumwidget.h"

#include "loadstylesheet.h"

#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

bool VolumWidget::muted = false;

VolumWidget::VolumWidget(QWidget* parent, qreal vol)
    : QDialog(parent)
{
    const QFont font(QStringLiteral("Tahoma"), 12, QFont::Bold);
    QPalette white;
    white.setColor(QPalette::WindowText, Qt::white);
    const int percent = qBound(0, int(vol * 100), 100);

    volNumber = new QLabel(QString::number(percent), this);
    volNumber->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    volNumber->setPalette(white);
    volNumber->setFont(font);

    volSlider = new QSlider(Qt::Vertical, this);
    volSlider->setRange(0, 100);
    volSlider->setMinimumHeight(150);
    volSlider->setMinimumWidth(40);
    volSlider->setValue(percent);
    loadStyleSheet(QStringLiteral("qslider.qss"), volSlider);

    isMuteCkBox = new QCheckBox(this);
    isMuteCkBox->setStyleSheet(
        QStringLiteral("QCheckBox {spacing: 5px;}QCheckBox::indicator{width: 40px;height: 40px;}"));
    isMuteCkBox->setChecked(muted);

    label = new QLabel(tr("Mute"), this);
    label->setPalette(white);
    label->setFont(font);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(volNumber);
    layout->addWidget(volSlider, 0, Qt::AlignHCenter);
    layout->addWidget(isMuteCkBox, 0, Qt::AlignHCenter);
    layout->addWidget(label, 0, Qt::AlignHCenter);

    connect(volSlider, &QSlider::valueChanged, this, [this](int v) {
        volNumber->setText(QString::number(v));
        emit changeVolume(v);
    });
    connect(isMuteCkBox, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Checked) {
            muted = true;
            emit isMute(true);
        } else if (state == Qt::Unchecked) {
            muted = false;
            emit isMute(false);
        }
    });
}
