#ifndef LOOKBACKWIDGET_H
#define LOOKBACKWIDGET_H

#include <QPixmap>
#include <QPoint>
#include <QProcess>
#include <QRectF>
#include <QSharedPointer>
#include <QStringList>
#include <QWidget>

class MainWindow;
class QTimeLine;

// The swipeable gallery of pictures and video thumbnails laid over the
// preview; a tap on a video plays it in korinplayer while the recorder
// engine is closed.
class LookBackWidget : public QWidget
{
    Q_OBJECT
public:
    // nameList: absolute picture paths, newest first, owned by the caller
    // and changed only while the gallery is hidden.
    LookBackWidget(QStringList* nameList, QWidget* parent);
    ~LookBackWidget() override;

    int currentImage() const { return currentIndex; }
    bool playerRunning() const;

    // Where the player is looked for, first existing executable wins; an
    // empty list restores the installed path and the camera's own folder.
    static void setPlayerCandidates(const QStringList& paths);
    static QStringList playerCandidates();

public slots:
    void showOneImage(int index);
    void sliderImages(int frame);
    void adjustImagePosition(int frame);
    void korinplayerFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void korinplayerError(QProcess::ProcessError error);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    typedef QSharedPointer<QPixmap> Pix;
    // One of the three images: previous (-1), current (0) or next (1).
    struct Side {
        Pix& pix;
        QRectF& source;
        QRectF& target;
        void take(const Side& other)
        {
            pix = other.pix;
            source = other.source;
            target = other.target;
        }
    };

    void moveImages(int dx);
    Side side(int which);
    // Loads entry index into s at x, or empties s when there is no entry.
    void place(Side s, int index, qreal x);
    void step(int dir);
    void callkorinplayer(int index);
    bool hasEntry(int index) const;
    Pix loadEntry(int index) const;
    QRectF slotRect(qreal x) const;
    void keepStartRects();
    void startSnap();
    bool entryIsVideo(int index) const;

    MainWindow* mainWindow;
    bool isVideo = false;
    QProcess* korinplayer = nullptr;
    Pix previousPix, currentPix, nextPix;
    QRectF previousPixSourceRect, currentPixSourceRect, nextPixSourceRect;
    QRectF previousPixTargetRect, currentPixTargetRect, nextPixTargetRect;
    QStringList* pNameList;
    int currentIndex = 0;
    QTimeLine* timeLine;
    QTimeLine* sliderTimeLine;
    int totalOffset = 0;
    int speed = 0;
    QRectF startMoveRect_p, startMoveRect_c, startMoveRect_n;
    QPoint lastClickPos;
    QPoint clickPoint;
};

#endif
