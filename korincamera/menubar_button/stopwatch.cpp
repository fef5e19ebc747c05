#include "stopwatch.h"

#include <QFont>
#include <QPalette>

StopWatch::StopWatch(QWidget* parent)
    : QLabel(parent)
{
    setScaledContents(true);
    setAlignment(Qt::AlignCenter);
    setFixedHeight(40);
    QFont f;
    f.setPointSize(12);
    setFont(f);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::transparent, Qt::SolidPattern));
    setPalette(pal);
}

void StopWatch::setTime(quint64 time)
{
    const quint64 hours = time / 3600000000ULL;
    const quint64 minutes = (time / 60000000ULL) % 60;
    const quint64 seconds = ((time % 3600000000ULL) % 60000000ULL) / 1000000ULL;
    m_strtime = QString("%1 : %2 : %3").arg(hours, 0, 10).arg(minutes, 0, 10).arg(seconds, 0, 10);
    setText(m_strtime);
    update();
}
