#ifndef THUMBNAILWIDGET_H
#define THUMBNAILWIDGET_H

#include <QImage>
#include <QTimer>
#include <QToolButton>

// Shows the newest picture of the save directory (black when there is none);
// a picture not yet readable is tried again once a second, a few times.
class ThumbnailButton : public QToolButton
{
    Q_OBJECT
public:
    explicit ThumbnailButton(QWidget* parent = nullptr);
    ~ThumbnailButton() override;

public slots:
    void setImageToShow(QString path);
    void refreshImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_imgToShow;
    QString filename;
    QTimer* refreshImageTimer;
    int retryCount = 0;
};

#endif
