/* How a shown picture of vertical colour bars (white on the left, as
 * videotestsrc's smpte100) is turned, judged from where its white bar lies
 * against the window's centre. Shared with the player's tests. */
#ifndef KORIN_TEST_PICTURE_TURN_H
#define KORIN_TEST_PICTURE_TURN_H

#include <QImage>

#include <cmath>

/* Degrees clockwise (0, 90, 180, 270), or -1 when no turned bars are seen. */
inline int pictureTurn(const QImage& img)
{
    double sx = 0, sy = 0;
    long n = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2) {
            const QRgb c = img.pixel(x, y);
            if (qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200) {
                sx += x;
                sy += y;
                n++;
            }
        }
    if (n < 20)
        return -1;
    const double dx = (sx / n - img.width() / 2.0) / img.width();
    const double dy = (sy / n - img.height() / 2.0) / img.height();
    if (std::fabs(dx) > 0.15 && std::fabs(dy) < 0.08)
        return dx < 0 ? 0 : 180;
    if (std::fabs(dy) > 0.15 && std::fabs(dx) < 0.08)
        return dy < 0 ? 90 : 270;
    return -1;
}

#endif
