#ifndef KORIN_COLORKEY_H
#define KORIN_COLORKEY_H

#include <QColor>
#include <QtGlobal>

// The colour the overlay plane is keyed on, from the environment variable
// "COLORKEY" (hexadecimal). Read afresh on every call so a changed
// environment takes effect at the next paint.
class ColorKey
{
public:
    // The key value K, or 0 when the variable is absent, empty, not
    // hexadecimal or wider than 32 bits.
    static quint32 korin_player_get_color_key();
    // The key as a 24-bit colour: R5 from bits 19-23, G6 from bits 8-13 and
    // B5 from bits 0-4 of K, each widened back to eight bits.
    static void color_key_to_qcolor(QColor& color);
};

#endif
