#include "lookbackwidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTimeLine>
#include <cstdlib>

#include "mainwindow.h"

namespace {
const char* const kInstalledPlayer = "/usr/share/qt5/examples/multimedia/korinplayer/korinplayer";
const char* const kThumbnailSuffix = "_thumbnail.jpg";
const int kGap = 50;
QStringList s_playerCandidates;
}

LookBackWidget::LookBackWidget(QStringList* nameList, QWidget* parent)
    : QWidget(parent)
    , mainWindow(qobject_cast<MainWindow*>(parent))
    , pNameList(nameList)
{
    Q_ASSERT(mainWindow && pNameList);
    timeLine = new QTimeLine(400, this);
    timeLine->setFrameRange(1, 80);
    sliderTimeLine = new QTimeLine(1000, this);
    sliderTimeLine->setFrameRange(1, 100);
    connect(timeLine, &QTimeLine::frameChanged, this, &LookBackWidget::adjustImagePosition);
    connect(timeLine, &QTimeLine::finished, this, &LookBackWidget::keepStartRects);
    connect(sliderTimeLine, &QTimeLine::frameChanged, this, &LookBackWidget::sliderImages);
    connect(sliderTimeLine, &QTimeLine::finished, this, &LookBackWidget::startSnap);
}

LookBackWidget::~LookBackWidget()
{
    // The player goes with the camera; its last signals must not reach a
    // half-destroyed gallery.
    if (playerRunning()) {
        korinplayer->disconnect(this);
        korinplayer->kill();
        korinplayer->waitForFinished(3000);
    }
}

void LookBackWidget::setPlayerCandidates(const QStringList& paths)
{
    s_playerCandidates = paths;
}

QStringList LookBackWidget::playerCandidates()
{
    if (!s_playerCandidates.isEmpty())
        return s_playerCandidates;
    return QStringList() << QString::fromLatin1(kInstalledPlayer)
                         << QCoreApplication::applicationDirPath() + "/korinplayer";
}

bool LookBackWidget::playerRunning() const
{
    return korinplayer && korinplayer->state() != QProcess::NotRunning;
}

bool LookBackWidget::hasEntry(int index) const
{
    return index >= 0 && index < pNameList->size();
}

bool LookBackWidget::entryIsVideo(int index) const
{
    return hasEntry(index) && QFileInfo(pNameList->at(index)).fileName().contains("_thumbnail");
}

LookBackWidget::Pix LookBackWidget::loadEntry(int index) const
{
    // A picture that cannot be read (deleted meanwhile) is a null pixmap,
    // which draws nothing.
    return Pix::create(hasEntry(index) ? pNameList->at(index) : QString());
}

QRectF LookBackWidget::slotRect(qreal x) const
{
    const int tw = width() * 7 / 10;
    const int th = height() * 7 / 10;
    return QRectF(x, (height() - th) / 2, tw, th);
}

LookBackWidget::Side LookBackWidget::side(int which)
{
    if (which < 0)
        return Side{previousPix, previousPixSourceRect, previousPixTargetRect};
    if (which > 0)
        return Side{nextPix, nextPixSourceRect, nextPixTargetRect};
    return Side{currentPix, currentPixSourceRect, currentPixTargetRect};
}

void LookBackWidget::place(Side s, int index, qreal x)
{
    s.pix.reset();
    if (!hasEntry(index))
        return;
    s.pix = loadEntry(index);
    s.source = s.pix->rect();
    s.target = slotRect(x);
}

void LookBackWidget::showOneImage(int index)
{
    previousPix.reset();
    currentPix.reset();
    nextPix.reset();
    isVideo = false;
    if (pNameList->isEmpty()) {
        currentIndex = 0;
        update();
        return;
    }
    currentIndex = qBound(0, index, pNameList->size() - 1);
    const int W = width();
    const int tw = W * 7 / 10;
    place(side(-1), currentIndex - 1, (W - 3 * tw) / 2 - kGap);
    isVideo = entryIsVideo(currentIndex);
    place(side(0), currentIndex, (W - tw) / 2);
    place(side(1), currentIndex + 1, (W + tw) / 2 + kGap);
    update();
}

void LookBackWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (currentPix)
        painter.drawPixmap(currentPixTargetRect, *currentPix, currentPixSourceRect);
    if (nextPix)
        painter.drawPixmap(nextPixTargetRect, *nextPix, nextPixSourceRect);
    if (previousPix)
        painter.drawPixmap(previousPixTargetRect, *previousPix, previousPixSourceRect);
    event->accept();
}

void LookBackWidget::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (pNameList->isEmpty())
        return;
    clickPoint = event->pos();
    // A tap after a swipe must neither glide on nor scroll.
    speed = 0;
    timeLine->stop();
    sliderTimeLine->stop();
}

void LookBackWidget::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (pNameList->isEmpty())
        return;
    if (lastClickPos.isNull()) {
        lastClickPos = event->pos();
        return;
    }
    speed = event->pos().x() - lastClickPos.x();
    moveImages(speed);
    update();
    lastClickPos = event->pos();
}

void LookBackWidget::moveImages(int dx)
{
    if (!currentPix)
        return;
    currentPixTargetRect.translate(dx, 0);
    if (nextPix)
        nextPixTargetRect.translate(dx, 0);
    if (previousPix)
        previousPixTargetRect.translate(dx, 0);

    const int W = width();
    const qreal centre = currentPixTargetRect.x() + currentPixTargetRect.width() * 0.5;
    if (centre <= 0 && nextPix && nextPixTargetRect.x() < W)
        step(1);
    else if (centre >= W && previousPix && previousPixTargetRect.x() + previousPixTargetRect.width() > 0)
        step(-1);
    isVideo = entryIsVideo(currentIndex);
}

// The neighbour on side dir becomes the current image, the current one moves
// to the other side (dropping what was there), and the next entry beyond is
// loaded on side dir.
void LookBackWidget::step(int dir)
{
    Side behind = side(-dir), here = side(0), ahead = side(dir);
    behind.take(here);
    here.take(ahead);
    currentIndex += dir;
    const int tw = width() * 7 / 10;
    place(ahead, currentIndex + dir, currentPixTargetRect.x() + dir * (tw + kGap));
}

void LookBackWidget::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (pNameList->isEmpty())
        return;
    if (isVideo && currentPixTargetRect.contains(event->pos()) && std::abs(clickPoint.x() - event->pos().x()) < 4) {
        qDebug("play");
        callkorinplayer(currentIndex);
    }
    lastClickPos = QPoint(0, 0);
    const int s = std::abs(speed);
    if (s <= 4) {
        startSnap();
    } else {
        sliderTimeLine->setDuration(100 * s);
        sliderTimeLine->start();
    }
}

void LookBackWidget::keepStartRects()
{
    startMoveRect_p = previousPixTargetRect;
    startMoveRect_c = currentPixTargetRect;
    startMoveRect_n = nextPixTargetRect;
}

void LookBackWidget::startSnap()
{
    keepStartRects();
    totalOffset = int(currentPixTargetRect.x() + currentPixTargetRect.width() * 0.5 - width() / 2);
    timeLine->start();
}

void LookBackWidget::sliderImages(int frame)
{
    const int end = sliderTimeLine->endFrame();
    moveImages(int(double(end - frame) * speed / end));
    update();
}

void LookBackWidget::adjustImagePosition(int frame)
{
    const int d = int(double(frame) / timeLine->endFrame() * totalOffset);
    currentPixTargetRect.moveLeft(startMoveRect_c.x() - d);
    if (nextPix)
        nextPixTargetRect.moveLeft(startMoveRect_n.x() - d);
    if (previousPix)
        previousPixTargetRect.moveLeft(startMoveRect_p.x() - d);
    update();
}

void LookBackWidget::callkorinplayer(int index)
{
    if (playerRunning()) {
        QMessageBox::information(this, "korinplayer is runging", "korinplayer is already running", QMessageBox::Ok);
        return;
    }
    if (!hasEntry(index))
        return;
    const QFileInfo thumbnail(pNameList->at(index));
    const QFileInfo videoInfo(thumbnail.dir(), thumbnail.fileName().remove(kThumbnailSuffix));
    if (!videoInfo.exists()) {
        qWarning("cannot find video to play");
        QMessageBox::warning(this, "Video not found",
                             QString("cannot find video to play: %1").arg(videoInfo.fileName()), QMessageBox::Ok);
        return;
    }
    // Resolved before the engine is closed, so a missing player costs nothing.
    QString program;
    const QStringList candidates = playerCandidates();
    for (const QString& path : candidates) {
        const QFileInfo f(path);
        if (f.isFile() && f.isExecutable()) {
            program = f.absoluteFilePath();
            break;
        }
    }
    if (program.isEmpty()) {
        qWarning() << "korinplayer not found in" << candidates;
        QMessageBox::warning(this, "korinplayer not found",
                             QString("cannot find korinplayer at %1").arg(candidates.join(" or ")), QMessageBox::Ok);
        return;
    }
    if (!korinplayer) {
        korinplayer = new QProcess(this);
        // The player writes to the camera's own terminal, not into a buffer
        // nobody reads.
        korinplayer->setProcessChannelMode(QProcess::ForwardedChannels);
        connect(korinplayer, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                &LookBackWidget::korinplayerFinished);
        connect(korinplayer, &QProcess::errorOccurred, this, &LookBackWidget::korinplayerError);
    }
    emit mainWindow->engine_close();
    korinplayer->start(program, QStringList() << videoInfo.absoluteFilePath(), QIODevice::ReadWrite);
    qDebug("korinplayer started");
}

void LookBackWidget::korinplayerFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode);
    Q_UNUSED(exitStatus);
    qDebug("korinplayer finished");
    emit mainWindow->engine_prepare(false);
}

void LookBackWidget::korinplayerError(QProcess::ProcessError error)
{
    // A crash also ends in finished(); only a failed start would leave the
    // engine closed.
    if (error != QProcess::FailedToStart)
        return;
    qWarning() << "korinplayer failed to start:" << korinplayer->errorString();
    emit mainWindow->engine_prepare(false);
    QMessageBox::warning(this, "korinplayer failed",
                         QString("korinplayer could not be started: %1").arg(korinplayer->errorString()),
                         QMessageBox::Ok);
}
