/* The overlay colour key, shared by both engines and the programs so that
 * all of them paint and key on the same colour.
 *
 * "COLORKEY" holds a hexadecimal number K (surrounding blanks, a leading
 * "+" and a "0x" prefix allowed). Absent, empty, malformed, negative or
 * wider than 32 bits: K is 0, i.e. black. The colour is the 5-6-5 fields of
 * K (R5 bits 19-23, G6 bits 8-13, B5 bits 0-4) widened back to 0xRRGGBB. */
#ifndef KORIN_COLORKEY_PARSE_H
#define KORIN_COLORKEY_PARSE_H

#include <stdint.h>

static inline int korin_colorkey_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static inline int korin_colorkey_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* K from the text of "COLORKEY" (null when the variable is absent). */
static inline uint32_t korin_colorkey_value(const char *text)
{
    if (!text)
        return 0;
    while (korin_colorkey_blank(*text))
        ++text;
    if (*text == '+')
        ++text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    uint64_t v = 0;
    int digits = 0, d;
    for (; (d = korin_colorkey_digit(*text)) >= 0; ++text, ++digits) {
        v = (v << 4) | (uint64_t)d;
        if (v > 0xFFFFFFFFull)
            return 0; /* refused, not cut to its low bits */
    }
    while (korin_colorkey_blank(*text))
        ++text;
    return digits && !*text ? (uint32_t)v : 0;
}

/* The colour painted for the key K, as 0xRRGGBB. */
static inline uint32_t korin_colorkey_rgb(uint32_t k)
{
    const uint32_t r5 = (k >> 19) & 0x1f, g6 = (k >> 8) & 0x3f, b5 = k & 0x1f;
    const uint32_t r = (r5 << 3) | (r5 >> 2), g = (g6 << 2) | (g6 >> 4), b = (b5 << 3) | (b5 >> 2);
    return (r << 16) | (g << 8) | b;
}

#endif
