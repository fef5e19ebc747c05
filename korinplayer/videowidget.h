#ifndef KORIN_VIDEOWIDGET_H
#define KORIN_VIDEOWIDGET_H

#include <QColor>
#include <QWidget>

class korinplayer;

// The video area in the main window's layout, painted with the colour key.
class VideoFrame : public QWidget
{
    Q_OBJECT
public:
    explicit VideoFrame(QWidget* parent = nullptr);

    QColor m_color;

signals:
    void sizeChaned(QSize size);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// Native child window covering the VideoFrame; the engine draws into it.
// Shows a still picture for audio files and for videos not playing.
class VideoWidget : public QWidget
{
    Q_OBJECT
public:
    VideoWidget(QWidget* parent, korinplayer* korin);

    QColor color;
    int count = 0;
    korinplayer* korin = nullptr;

signals:
    void sizeChaned(QSize size);

public slots:
    void changeSize(QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

#endif
