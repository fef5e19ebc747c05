#include "subtitle.h"
#include "subtitlepollingthread.h"

#include "colorkey.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>

#include <climits>
#include <cstring>

QString QFont2PangoFontDescription(const QFont& font)
{
    QString pango = font.family() + QLatin1Char(',');
    if (font.weight() > 57)
        pango += QLatin1String("Bold ");
    if (font.style() != QFont::StyleNormal)
        pango += QLatin1String("Italic ");
    pango += QString::number(font.pointSize());
    return pango;
}

QString subtitleRichText(const QByteArray& utf8)
{
    QString text = QString::fromUtf8(utf8).toHtmlEscaped();
    // Give back only the plain style tags, in either case.
    static const QRegularExpression styleTag(QStringLiteral("&lt;(/?)([ibuIBU])&gt;"));
    text.replace(styleTag, QStringLiteral("<\\1\\2>"));
    text.remove(QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return QLatin1String("<div>") + text + QLatin1String("</div>");
}

int subtitleDisplayMs(quint64 durNs)
{
    const quint64 ms = durNs / 1000000ULL;
    if (durNs == ~quint64(0) || ms == 0 || ms > quint64(INT_MAX))
        return 2000;
    return int(ms);
}

SubTitleWidget::SubTitleWidget(QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setContentsMargins(0, 0, 0, 0);
    m_textLabel = new QLabel(this);
    m_textLabel->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    m_textLabel->setTextFormat(Qt::RichText);
    m_textLabel->setContentsMargins(0, 0, 0, 0);
    m_textLabel->setAutoFillBackground(true);
    layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_textLabel);
    QFont font(QStringLiteral("Sans"), 18, QFont::Bold);
    setFont(font);
    setColor(Qt::white);
}

void SubTitleWidget::setFont(QFont& font)
{
    m_textLabel->setFont(font);
}

void SubTitleWidget::setColor(QColor color)
{
    QColor key;
    ColorKey::color_key_to_qcolor(key);
    QPalette pal = m_textLabel->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setBrush(group, QPalette::Window, QBrush(key, Qt::SolidPattern));
        pal.setBrush(group, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    }
    m_textLabel->setPalette(pal);
}

void SubTitleWidget::setText(const char* text)
{
    setText(QByteArray(text ? text : ""));
}

void SubTitleWidget::setText(const QByteArray& text)
{
    m_textLabel->setText(subtitleRichText(text));
}

void SubTitleWidget::updateGeometry(QRect ref_rect)
{
    m_textLabel->adjustSize();
    adjustSize();
    const QSize hint = sizeHint();
    setFixedHeight(hint.height());
    setFixedWidth(hint.width());
    move(ref_rect.x() + (ref_rect.width() - width()) / 2, ref_rect.y() + ref_rect.height() - height() - 20);
}

void SubtitlePollingThread::nap(int ms)
{
    for (int slept = 0; slept < ms && !need_quit.load(); slept += 20)
        msleep(20);
}

void SubtitlePollingThread::stopAndWait()
{
    set_need_quit();
    wait();
}

void SubtitlePollingThread::run()
{
    GstState state = GST_STATE_VOID_PENDING;
    if (pengine && pengine->get_state(pengine, &state) != PLAYENGINE_SUCCESS)
        state = GST_STATE_VOID_PENDING;
    while (!need_quit.load() && state != GST_STATE_NULL && state != GST_STATE_READY) {
        std::memset(sub_text, 0, sizeof sub_text);
        guint64 pts = 0, dur = 0;
        if (!pengine) {
            nap(1000);
        } else if (pengine->get_subtitle_text(pengine, sub_text, sizeof sub_text - 1, &pts, &dur)
                   != PLAYENGINE_SUCCESS) {
            nap(1000);
            g_print("SubtitlePollingThread::run: get subutle text failed\n");
        } else {
            // The engine may fill the buffer without a terminator.
            const int len = int(qstrnlen(sub_text, sizeof sub_text - 1));
            if (len > 0)
                emit updateSubtitle(QByteArray(sub_text, len), pts, dur);
            nap(100);
        }
        if (pengine && pengine->get_state(pengine, &state) != PLAYENGINE_SUCCESS)
            state = GST_STATE_VOID_PENDING;
    }
}
