#ifndef KORIN_SUBTITLE_H
#define KORIN_SUBTITLE_H

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;

enum SubPosition {
    TOP_LEFT = 0,
    TOP_CENTRAL = 1,
    TOP_RIGHT = 2,
    CENTRAL_LEFT = 3,
    CENTRAL_CENTRAL = 4,
    CENTRAL_RIGHT = 5,
    BUTTON_LEFT = 6,
    BUTTON_CENTRAL = 7,
    BUTTON_RIGHT = 8,
    TOTAL_SUB_POS = 9
};

// Pango font description of font, as the engine's overlay takes it:
// "Sans,Bold 18" for Sans 18 pt bold.
QString QFont2PangoFontDescription(const QFont& font);

// Rich text of one subtitle line, given as the engine's Pango markup. The
// text comes from the media and is not trusted: of its tags only <i>, <b> and
// <u> are kept, other tags (span and the like) are dropped, its entities are
// read and the text is shown literally; line breaks become <br/>.
QString subtitleRichText(const QByteArray& markup);

// Display time of a subtitle line in ms: dur in ns, 2000 ms when it is 0,
// "none" (all ones) or too long to be real.
int subtitleDisplayMs(quint64 durNs);

// The label the interface draws subtitles in, over the bottom of the video.
class SubTitleWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SubTitleWidget(QWidget* parent);
    void setFont(QFont& font);
    void setColor(QColor color);
    void setText(const char* text);
    void setText(const QByteArray& text);
    void updateGeometry(QRect ref_rect);
    QLabel* textLabel() const { return m_textLabel; }

private:
    QLabel* m_textLabel = nullptr;
    QHBoxLayout* layout = nullptr;
};

#endif
