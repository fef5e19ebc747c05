#ifndef STOPWATCH_H
#define STOPWATCH_H

#include <QLabel>

// Shows the elapsed recording time as "h : m : s".
class StopWatch : public QLabel
{
    Q_OBJECT
public:
    explicit StopWatch(QWidget* parent = nullptr);

public slots:
    void setTime(quint64 time); // microseconds

private:
    QString m_strtime;
};

#endif
