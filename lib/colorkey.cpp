#include "colorkey.h"

#include "korin_colorkey.h"

#include <QProcessEnvironment>

quint32 ColorKey::korin_player_get_color_key()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("COLORKEY")))
        return 0;
    // The engines read the same text with the same rule, so all key on one colour.
    return korin_colorkey_value(env.value(QStringLiteral("COLORKEY")).toUtf8().constData());
}

void ColorKey::color_key_to_qcolor(QColor& color)
{
    color.setNamedColor(QString::asprintf("#%06x", korin_colorkey_rgb(korin_player_get_color_key())));
}
