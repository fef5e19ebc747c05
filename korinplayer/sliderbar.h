#ifndef KORIN_SLIDERBAR_H
#define KORIN_SLIDERBAR_H

#include <QColor>
#include <QSlider>
#include <QWidget>

class QGridLayout;
class QLabel;

// Position slider that jumps straight to the point clicked on its groove.
class Slider : public QSlider
{
    Q_OBJECT
public:
    explicit Slider(QWidget* parent = nullptr);

    bool normalgoing() const { return isNormalGoing; }
    void setNormalgoing(bool going) { isNormalGoing = going; }

signals:
    // A click on the groove landed on the value the slider already had, so
    // no valueChanged follows; the click must still be reported.
    void grooveClickedAtValue(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool isNormalGoing = true;
};

// Elapsed time, position slider and total time.
class SliderBar : public QWidget
{
    Q_OBJECT
public:
    explicit SliderBar(QWidget* parent = nullptr);

    // Whole seconds, shared with the main window.
    static qint64 currentTime;
    static qint64 totalTime;

    // "mm:ss" below one hour of total, "hh:mm:ss" from one hour on; hours
    // are not wrapped at 24.
    static QString formatTime(qint64 seconds, qint64 total);

    QLabel* currentTimeLabel = nullptr;
    QLabel* totalTimeLabel = nullptr;
    Slider* playedSlidr = nullptr;
    QGridLayout* gridLayout = nullptr;
    QColor color;

signals:
    void sliderMoves(int seconds);

public slots:
    void durationChanged(qint64 duration);
    void positionChanged(qint64 progress);
    void updateDurationInfo(int currentInfo);

protected:
    void paintEvent(QPaintEvent* event) override;
};

#endif
