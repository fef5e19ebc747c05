/*
 * Thumbnails as the camera's thumbnailer takes them (colours.mp4: red 0-2 s,
 * blue 2-4 s; oddwidth.mp4: 322 wide colour bars, so RGB rows need padding)
 * and the metadata record the player's information panel reads.
 */
#include "engine_test_util.h"

#include <QImage>

class TestThumbnailMetadata : public QObject {
    Q_OBJECT
private slots:
    void thumbnailerFlow();
    void thumbnailOddWidthIsNotSheared();
    void metadataOfManyTracks();
};

/* Checks the layout (RGB888, rows padded to 4, size = stride * height); wraps it. */
static QImage frame(const korin_image_info& info, int width)
{
    const gsize stride = info.height > 0 ? info.size / info.height : 0;
    if (!info.image || info.width != width || info.height != 240 || stride * 240 != info.size ||
        stride % 4 || stride < (gsize)width * 3 || stride >= (gsize)width * 3 + 4) {
        QTest::qFail(qPrintable(QStringLiteral("bad layout %1x%2 size %3").arg(info.width)
                                    .arg(info.height).arg(info.size)), __FILE__, __LINE__);
        return QImage();
    }
    return QImage(info.image, info.width, info.height, (int)stride, QImage::Format_RGB888);
}

static bool near(QRgb c, QRgb want)
{
    return qAbs(qRed(c) - qRed(want)) < 50 && qAbs(qGreen(c) - qGreen(want)) < 50 &&
           qAbs(qBlue(c) - qBlue(want)) < 50;
}

/* The whole frame (away from the edges) is close to one colour. */
static void checkSolid(const korin_image_info& info, QRgb want, const char* what)
{
    QImage img = frame(info, 320);
    for (int y = 8; y < img.height() - 8; y += 7)
        for (int x = 8; x < img.width() - 8; x += 9)
            QVERIFY2(near(img.pixel(x, y), want), qPrintable(QStringLiteral("%1: pixel %2,%3 is %4")
                                        .arg(what).arg(x).arg(y).arg(img.pixel(x, y), 0, 16)));
}

void TestThumbnailMetadata::thumbnailerFlow()
{
    // No handler, appsink text, fakesink video, one engine for several files.
    Engine e(nullptr, "fakesink", true);
    korin_image_info red{}, blue{}, info{};
    QVERIFY(ENG(e, get_video_thumbnail, 1, &info) != PLAYENGINE_SUCCESS); // nothing loaded
    QVERIFY(load(e, "colours.mp4"));
    // No subtitles, paused: the player's text poll gets success and "".
    char text[16] = "x";
    guint64 pts, dur;
    OK(ENG(e, get_subtitle_text, text, 16u, &pts, &dur));
    QCOMPARE(text[0], '\0');
    OK(ENG(e, get_video_thumbnail, 1, &red));
    checkSolid(red, qRgb(255, 0, 0), "frame at 1 s");
    OK(ENG(e, get_video_thumbnail, 3, &blue));
    checkSolid(blue, qRgb(0, 0, 255), "frame at 3 s");
    // Still the right frame afterwards, also while playing.
    OK(ENG(e, play));
    OK(ENG(e, get_video_thumbnail, 1, &info));
    checkSolid(info, qRgb(255, 0, 0), "frame at 1 s while playing");
    OK(ENG(e, stop));

    // Audio only: NOT_SUPPORT.
    QVERIFY(load(e, "tagged.ogg"));
    QCOMPARE(ENG(e, get_video_thumbnail, 1, &info), PLAYENGINE_ERROR_NOT_SUPPORT);
    OK(ENG(e, stop));
}

void TestThumbnailMetadata::thumbnailOddWidthIsNotSheared()
{
    Engine e(nullptr, "fakesink", true);
    QVERIFY(load(e, "oddwidth.mp4"));
    korin_image_info info{};
    OK(ENG(e, get_video_thumbnail, 1, &info));
    QImage img = frame(info, 322);
    QVERIFY(!img.isNull());
    // Vertical bars: every row looks like the first; a wrong stride drifts.
    for (int y = 1; y < img.height(); y++) {
        long diff = 0;
        for (int x = 0; x < img.width(); x++) {
            QRgb a = img.pixel(x, 0), b = img.pixel(x, y);
            diff += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
        }
        QVERIFY2(diff / img.width() < 12, qPrintable(QStringLiteral("row %1 sheared").arg(y)));
    }
    // Turned 90° clockwise (the loaded file is reloaded with the flip filter): the left bar on top.
    OK(ENG(e, set_rotate, 90));
    OK(ENG(e, get_video_thumbnail, 1, &info));
    QCOMPARE(QSize(info.width, info.height), QSize(240, 322));
    QCOMPARE(info.size, (gsize)240 * 3 * 322);
    QImage turned(info.image, 240, 322, 240 * 3, QImage::Format_RGB888);
    QVERIFY(near(turned.pixel(120, 5), qRgb(255, 255, 255)) && near(turned.pixel(120, 316), qRgb(0, 0, 255)));
}

void TestThumbnailMetadata::metadataOfManyTracks()
{
    Engine e;
    QVERIFY(load(e, "tenaudio.mkv"));
    // The record sits between guard bytes: nothing written past 8 tracks.
    std::vector<guint64> buf(8 + sizeof(korin_metadata) / 8 + 32, 0x5A5A5A5A5A5A5A5AULL);
    korin_metadata& m = *reinterpret_cast<korin_metadata*>(buf.data() + 8);
    memset(&m, 0xAA, sizeof m);
    OK(ENG(e, get_metadata, &m));
    const char* bytes = reinterpret_cast<const char*>(buf.data());
    QCOMPARE(QByteArray(bytes, 64), QByteArray(64, 0x5A));
    QCOMPARE(QByteArray(bytes + 64 + sizeof(korin_metadata), 256), QByteArray(256, 0x5A));
    // Texts end in NUL within their fields (filled with garbage first above).
    for (const char* text : {m.container, m.title, m.audio_info[7].codec_type, m.audio_info[7].language})
        QVERIFY(memchr(text, 0, 64));
    QCOMPARE(m.n_audio, 10);
    for (int i = 0; i < KORIN_METADATA_MAX_TRACKS; i++)
        QVERIFY(m.audio_info[i].codec_type[0] && m.audio_info[i].samplerate == 48000);
    QCOMPARE(engineInt(e, e->get_audio_num), 10);
    // The tenth track can be chosen although the record lists 8.
    OK(ENG(e, select_audio, 9));
    QCOMPARE(engineInt(e, e->get_cur_audio_no), 9);
    OK(ENG(e, play));
    QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
}

QTEST_GUILESS_MAIN(TestThumbnailMetadata)
#include "tst_thumbnail_metadata.moc"
