#include "subtitle.h"
#include "subtitlepollingthread.h"

#include "colorkey.h"

#include <QHBoxLayout>
#include <QHash>
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

namespace {
// Text of Pango markup with its character entities read back.
QString unescapeMarkup(const QString& text)
{
    static const QRegularExpression entity(QStringLiteral("&(?:#x([0-9A-Fa-f]{1,6})|#([0-9]{1,7})|(amp|lt|gt|quot|apos));"));
    static const QHash<QString, QChar> named{{QStringLiteral("amp"), QLatin1Char('&')},
                                             {QStringLiteral("lt"), QLatin1Char('<')},
                                             {QStringLiteral("gt"), QLatin1Char('>')},
                                             {QStringLiteral("quot"), QLatin1Char('"')},
                                             {QStringLiteral("apos"), QLatin1Char('\'')}};
    QString out;
    int from = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += text.midRef(from, m.capturedStart() - from);
        from = m.capturedEnd();
        if (!m.captured(3).isEmpty()) {
            out += named.value(m.captured(3));
            continue;
        }
        bool ok = false;
        const uint code = m.captured(1).isEmpty() ? m.captured(2).toUInt(&ok) : m.captured(1).toUInt(&ok, 16);
        if (ok && code > 0 && code <= 0x10FFFF && !QChar::isSurrogate(code))
            out += QString::fromUcs4(&code, 1);
    }
    return out + text.midRef(from);
}
} // namespace

QString subtitleRichText(const QByteArray& markup)
{
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z]+)\\b[^<>]*>"));
    const QString in = QString::fromUtf8(markup);
    QString text;
    int from = 0;
    const auto literal = [&](int end) { text += unescapeMarkup(in.mid(from, end - from)).toHtmlEscaped(); };
    for (auto it = tag.globalMatch(in); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        literal(m.capturedStart());
        from = m.capturedEnd();
        const QString name = m.captured(2).toLower();
        if (name == QLatin1String("i") || name == QLatin1String("b") || name == QLatin1String("u"))
            text += QLatin1Char('<') + m.captured(1) + name + QLatin1Char('>');
    }
    literal(in.size());
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
