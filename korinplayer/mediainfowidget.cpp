#include "mediainfowidget.h"

#include "colorkey.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

namespace {
// A fixed-size text field of the engine's record, never read past its end.
template <size_t N>
QByteArray text(const gchar (&field)[N])
{
    return QByteArray(field, int(qstrnlen(field, N)));
}
} // namespace

MediaInfoWidget::MediaInfoWidget(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Media Info"));
    m_textLabel = new QLabel(this);
    m_textLabel->setAlignment(Qt::AlignLeft);
    // Tags come from the file: never interpret them as markup.
    m_textLabel->setTextFormat(Qt::PlainText);
    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setAcceptDrops(true);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidget(m_textLabel);
    layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);

    QColor key;
    ColorKey::color_key_to_qcolor(key);
    QPalette areaPal = m_scrollArea->palette();
    QPalette labelPal = m_textLabel->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        areaPal.setBrush(group, QPalette::Window, QBrush(key, Qt::SolidPattern));
        labelPal.setBrush(group, QPalette::Window, QBrush(key, Qt::SolidPattern));
        labelPal.setBrush(group, QPalette::WindowText, QBrush(Qt::white, Qt::SolidPattern));
    }
    m_scrollArea->setPalette(areaPal);
    m_scrollArea->setAutoFillBackground(true);
    m_scrollArea->viewport()->setPalette(areaPal);
    m_scrollArea->viewport()->setAutoFillBackground(true);
    m_textLabel->setPalette(labelPal);
    m_textLabel->setAutoFillBackground(true);
}

QString MediaInfoWidget::describe(const korin_metadata& md, const QString& duration, const QString& seekable)
{
    QString s = QString::asprintf(
        "Title: %s\nArtist: %s\nAlbum: %s\nYear: %s\nGenre: %s\nDuration: %s\nContainer: %s\nSeekable: %s\n"
        "Videos: [%d], Audios: [%d], Subtitles: [%d]\n",
        text(md.title).constData(), text(md.artist).constData(), text(md.album).constData(),
        text(md.year).constData(), text(md.genre).constData(), duration.toUtf8().constData(),
        text(md.container).constData(), seekable.toUtf8().constData(), md.n_video, md.n_audio, md.n_subtitle);
    // The record holds the first tracks only; the header gives the real counts.
    for (int i = 0; i < qMin(md.n_video, KORIN_METADATA_MAX_TRACKS); ++i) {
        const korin_video_info& v = md.video_info[i];
        s += QString::asprintf("Video %d: %s, Language: %s\n        %d x %d (%d/%d)", i + 1,
                               text(v.codec_type).constData(), text(v.language).constData(), v.width, v.height,
                               v.framerate_numerator, v.framerate_denominator);
        s += QString::asprintf(", %d bps\n", int(v.bitrate));
    }
    for (int i = 0; i < qMin(md.n_audio, KORIN_METADATA_MAX_TRACKS); ++i) {
        const korin_audio_info& a = md.audio_info[i];
        s += QString::asprintf("Audio %d: %s, Language: %s\n        %d Channels, %d Hz", i + 1,
                               text(a.codec_type).constData(), text(a.language).constData(), a.channels,
                               a.samplerate);
        s += QString::asprintf(", %d bps\n", int(a.bitrate));
    }
    for (int i = 0; i < qMin(md.n_subtitle, KORIN_METADATA_MAX_TRACKS); ++i)
        s += QString::asprintf("Subtitle %d: %s, Language: %s\n", i + 1,
                               text(md.subtitle_info[i].codec_type).constData(),
                               text(md.subtitle_info[i].language).constData());
    return s;
}

void MediaInfoWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_previousPoint = event->localPos().toPoint();
    event->accept();
}

void MediaInfoWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint now = event->localPos().toPoint();
    const QPoint delta = now - m_previousPoint;
    m_previousPoint = now;
    QScrollBar* h = m_scrollArea->horizontalScrollBar();
    QScrollBar* v = m_scrollArea->verticalScrollBar();
    h->setValue(h->value() - delta.x());
    v->setValue(v->value() - delta.y());
    event->accept();
}
