#include "colorkey.h"

#include "korin_colorkey.h"

quint32 ColorKey::korin_player_get_color_key()
{
    // The engines parse the same text with the same rule.
    return korin_colorkey_value(qgetenv("COLORKEY").constData());
}

void ColorKey::color_key_to_qcolor(QColor& color)
{
    color.setNamedColor(QString::asprintf("#%06x", korin_colorkey_rgb(korin_player_get_color_key())));
}
