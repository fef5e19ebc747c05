#include "colorkey.h"

#include <QProcessEnvironment>

quint32 ColorKey::korin_player_get_color_key()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("COLORKEY")))
        return 0;
    const QString text = env.value(QStringLiteral("COLORKEY"));
    if (text.isEmpty())
        return 0;
    bool ok = false;
    // Parse wide so that a value above 32 bits is refused rather than cut.
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok || value > 0xFFFFFFFFull)
        return 0;
    return static_cast<quint32>(value);
}

void ColorKey::color_key_to_qcolor(QColor& color)
{
    const quint32 key = korin_player_get_color_key();
    const quint32 r5 = (key >> 19) & 0x1F;
    const quint32 g6 = (key >> 8) & 0x3F;
    const quint32 b5 = key & 0x1F;
    const quint32 red = (r5 << 3) | (r5 >> 2);
    const quint32 green = (g6 << 2) | (g6 >> 4);
    const quint32 blue = (b5 << 3) | (b5 >> 2);
    color.setNamedColor(QString::asprintf("#%06x", (red << 16) | (green << 8) | blue));
}
