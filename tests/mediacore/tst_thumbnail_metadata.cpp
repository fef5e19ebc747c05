/*
 * Frames and media information: thumbnails as the camera's thumbnailer takes
 * them (colours.mp4 is red for 0-2 s and blue for 2-4 s; oddwidth.mp4 is
 * 322 pixels wide, so its RGB rows need padding), and the metadata record as
 * the player's information panel and cover picture read it.
 */
#include "engine_test_util.h"

#include <QImage>

#include <memory>

class TestThumbnailMetadata : public QObject {
    Q_OBJECT

private slots:
    void thumbnailerFlow();
    void thumbnailOddWidthIsNotSheared();
    void thumbnailEdgeCases();
    void metadataOfTaggedAudio_data();
    void metadataOfTaggedAudio();
    void metadataOfVideoAndPlainAudio();
    void metadataOfManyTracks();
};

struct Rgb {
    int r, g, b;
};

static Rgb pixel(const korin_image_info& info, int x, int y)
{
    const gsize stride = info.size / info.height;
    const guint8* p = info.image + (gsize)y * stride + (gsize)x * 3;
    return {p[0], p[1], p[2]};
}

static QString rgbText(Rgb c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.r).arg(c.g).arg(c.b);
}

/* The layout callers rely on: RGB888, rows padded to 4 bytes, size = stride * height. */
static void checkLayout(const korin_image_info& info, int width, int height)
{
    QVERIFY(info.image != nullptr);
    QCOMPARE(info.width, width);
    QCOMPARE(info.height, height);
    QVERIFY(info.size > 0);
    QCOMPARE(info.size % (gsize)height, (gsize)0);
    const gsize stride = info.size / height;
    QVERIFY2(stride % 4 == 0, qPrintable(QStringLiteral("stride %1").arg(stride)));
    QVERIFY2(stride >= (gsize)width * 3 && stride < (gsize)width * 3 + 4,
             qPrintable(QStringLiteral("stride %1 for width %2").arg(stride).arg(width)));
}

/* The whole frame is close to one colour (the middle area, away from edges). */
static void checkSolid(const korin_image_info& info, Rgb want, const char* what)
{
    for (int y = 8; y < info.height - 8; y += 7)
        for (int x = 8; x < info.width - 8; x += 9) {
            Rgb c = pixel(info, x, y);
            bool ok = qAbs(c.r - want.r) < 50 && qAbs(c.g - want.g) < 50 && qAbs(c.b - want.b) < 50;
            QVERIFY2(ok, qPrintable(QStringLiteral("%1: pixel %2,%3 is %4")
                                        .arg(what).arg(x).arg(y).arg(rgbText(c))));
        }
}

void TestThumbnailMetadata::thumbnailerFlow()
{
    REQUIRE_MEDIA("colours.mp4");
    REQUIRE_MEDIA("tagged.ogg");
    REQUIRE_MEDIA("clip.mp4");
    // As the camera's thumbnailer: no event handler, appsink text sink,
    // fakesink video sink, one engine for several files, stop after each.
    Engine e;
    QVERIFY(e.get());
    ENG(e, set_text_sink, "appsink");
    QCOMPARE(ENG(e, set_video_sink, "fakesink"), PLAYENGINE_SUCCESS);

    QCOMPARE(ENG(e, set_file, mediaPath("colours.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    korin_metadata m;
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QCOMPARE(m.n_video, 1);
    gint64 dur = engineDuration(e);
    QVERIFY2(qAbs(dur - 4 * kSecond) < kSecond / 4, qPrintable(QString::number(dur)));

    korin_image_info red{};
    QCOMPARE(ENG(e, get_video_thumbnail, 1, &red), PLAYENGINE_SUCCESS);
    checkLayout(red, 320, 240);
    checkSolid(red, {255, 0, 0}, "frame at 1 s");

    korin_image_info blue{};
    QCOMPARE(ENG(e, get_video_thumbnail, 3, &blue), PLAYENGINE_SUCCESS);
    checkLayout(blue, 320, 240);
    checkSolid(blue, {0, 0, 255}, "frame at 3 s");

    // The pixels are writable: the thumbnailer stamps its play mark into them.
    for (int y = 0; y < 16; y++)
        memset(blue.image + (gsize)y * (blue.size / blue.height), 0x7f, 48);
    QCOMPARE(pixel(blue, 3, 3).g, 0x7f);
    // Both frames stay readable until stop (sum them so nothing is skipped).
    quint64 sum = 0;
    for (gsize i = 0; i < red.size; i += 97)
        sum += red.image[i];
    QVERIFY(sum > 0);
    // Wrapped without a copy, as QImage with the bytes per line derived from size.
    QImage wrapped(blue.image, blue.width, blue.height, (int)(blue.size / blue.height),
                   QImage::Format_RGB888);
    QCOMPARE(QColor(wrapped.pixel(200, 200)).blue() > 200, true);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    // Audio only: no video track, NOT_SUPPORT from the thumbnail.
    QCOMPARE(ENG(e, set_file, mediaPath("tagged.ogg").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QCOMPARE(m.n_video, 0);
    korin_image_info none{};
    QCOMPARE(ENG(e, get_video_thumbnail, 1, &none), PLAYENGINE_ERROR_NOT_SUPPORT);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    // A clip with sound, at half its length as the thumbnailer picks it.
    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    dur = engineDuration(e);
    korin_image_info mid{};
    QCOMPARE(ENG(e, get_video_thumbnail, (gint)(dur / 2000000000LL), &mid), PLAYENGINE_SUCCESS);
    checkLayout(mid, 320, 240);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

void TestThumbnailMetadata::thumbnailOddWidthIsNotSheared()
{
    REQUIRE_MEDIA("oddwidth.mp4");
    Engine e;
    QVERIFY(e.get());
    ENG(e, set_text_sink, "appsink");
    ENG(e, set_video_sink, "fakesink");
    QCOMPARE(ENG(e, set_file, mediaPath("oddwidth.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    korin_image_info info{};
    QCOMPARE(ENG(e, get_video_thumbnail, 1, &info), PLAYENGINE_SUCCESS);
    checkLayout(info, 322, 240);

    // Vertical colour bars: with the rows read at size / height bytes each,
    // every row looks like the first one. A wrong stride drifts 2 bytes a row.
    for (int y = 1; y < info.height; y++) {
        long diff = 0;
        for (int x = 0; x < info.width; x++) {
            Rgb a = pixel(info, x, 0), b = pixel(info, x, y);
            diff += qAbs(a.r - b.r) + qAbs(a.g - b.g) + qAbs(a.b - b.b);
        }
        QVERIFY2(diff / info.width < 12,
                 qPrintable(QStringLiteral("row %1 differs from row 0 by %2 per pixel")
                                .arg(y).arg(diff / info.width)));
    }
    // The first bar is white, the last blue: the picture is not shifted.
    Rgb left = pixel(info, 5, 120), right = pixel(info, info.width - 5, 120);
    QVERIFY2(left.r > 200 && left.g > 200 && left.b > 200, qPrintable(rgbText(left)));
    QVERIFY2(right.r < 50 && right.g < 50 && right.b > 200, qPrintable(rgbText(right)));
    // The bars in between, in order: yellow, cyan, green, magenta, red.
    const Rgb bars[] = {{255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}};
    for (int i = 0; i < 5; i++) {
        int x = (2 * (i + 1) + 1) * info.width / 14;
        Rgb c = pixel(info, x, 200);
        QVERIFY2(qAbs(c.r - bars[i].r) < 50 && qAbs(c.g - bars[i].g) < 50 &&
                     qAbs(c.b - bars[i].b) < 50,
                 qPrintable(QStringLiteral("bar %1 at x %2 is %3").arg(i + 1).arg(x).arg(rgbText(c))));
    }
    // QImage with bytes per line from size / height shows the same.
    QImage img(info.image, info.width, info.height, (int)(info.size / info.height),
               QImage::Format_RGB888);
    QCOMPARE(img.pixel(5, 239), img.pixel(5, 0));
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

void TestThumbnailMetadata::thumbnailEdgeCases()
{
    REQUIRE_MEDIA("colours.mp4");
    Engine e;
    QVERIFY(e.get());
    ENG(e, set_video_sink, "fakesink");
    korin_image_info info{};
    // Nothing loaded: a failure, not a crash.
    QVERIFY(ENG(e, get_video_thumbnail, 1, &info) != PLAYENGINE_SUCCESS);

    QCOMPARE(ENG(e, set_file, mediaPath("colours.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    // Far past the end: bounded, and if a frame comes it is a whole one.
    QElapsedTimer t;
    t.start();
    info = {};
    PlayEngineResult r = ENG(e, get_video_thumbnail, 100, &info);
    QVERIFY2(t.elapsed() < 11000, "thumbnail past the end hangs");
    if (r == PLAYENGINE_SUCCESS)
        checkLayout(info, 320, 240);
    else
        QVERIFY(r == PLAYENGINE_FAILURE || r == PLAYENGINE_ERROR_TIMEOUT ||
                r == PLAYENGINE_ERROR_BAD_PARAM);
    // Negative position: refused or clamped, never a crash.
    info = {};
    r = ENG(e, get_video_thumbnail, -3, &info);
    if (r == PLAYENGINE_SUCCESS)
        checkLayout(info, 320, 240);
    // The engine still gives the right frame afterwards.
    info = {};
    QCOMPARE(ENG(e, get_video_thumbnail, 3, &info), PLAYENGINE_SUCCESS);
    checkSolid(info, {0, 0, 255}, "frame at 3 s after edge cases");
    // Also while playing.
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    info = {};
    QCOMPARE(ENG(e, get_video_thumbnail, 1, &info), PLAYENGINE_SUCCESS);
    checkSolid(info, {255, 0, 0}, "frame at 1 s while playing");
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

static bool isValidUtf8(const char* s)
{
    QByteArray b(s);
    return QString::fromUtf8(b).toUtf8() == b;
}

void TestThumbnailMetadata::metadataOfTaggedAudio_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("mp3") << QStringLiteral("tagged.mp3");
    QTest::newRow("flac") << QStringLiteral("tagged.flac");
}

void TestThumbnailMetadata::metadataOfTaggedAudio()
{
    QFETCH(QString, file);
    QByteArray name = file.toUtf8();
    REQUIRE_MEDIA(name.constData());
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath(name.constData()).constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);

    korin_metadata m;
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QString field;
    QVERIFY2(textFieldsTerminated(m, &field), qPrintable(field + " is not NUL-terminated"));
    QCOMPARE(QByteArray(m.title), QByteArray("Korin Test Title"));
    QCOMPARE(QByteArray(m.artist), QByteArray("Korin Test Artist"));
    QCOMPARE(QByteArray(m.album), QByteArray("Korin Test Album"));
    QCOMPARE(QByteArray(m.genre), QByteArray("Test"));
    QVERIFY2(m.container[0], "no container name");
    QCOMPARE(m.n_video, 0);
    QCOMPARE(m.n_audio, 1);
    QCOMPARE(m.n_subtitle, 0);
    QVERIFY2(m.audio_info[0].codec_type[0], "no audio codec name");
    QCOMPARE(m.audio_info[0].samplerate, 44100);
    QCOMPARE(m.audio_info[0].channels, 2);

    // The comment is longer than the field: cut, terminated, and (FLAC: 200
    // two-byte characters) cut at a character boundary.
    QByteArray comment(m.comment);
    QVERIFY2(comment.size() >= 200 && comment.size() < (int)sizeof(m.comment),
             qPrintable(QString::number(comment.size())));
    QVERIFY2(isValidUtf8(m.comment), "comment cut inside a character");
    if (file.endsWith(QLatin1String(".flac"))) {
        QCOMPARE(comment.size() % 2, 0);
        QVERIFY2(QString::fromUtf8(comment) == QString(comment.size() / 2, QChar(0xE9)),
                 m.comment);
    } else {
        QByteArray digits;
        for (int i = 0; i < comment.size(); i++)
            digits.append(char('0' + i % 10));
        QCOMPARE(comment, digits);
    }

    // The cover: encoded bytes as stored, with its size known.
    const korin_album_art_info& art = m.album_art_info;
    QVERIFY2(art.image != nullptr && art.size > 0, "no album art");
    QCOMPARE(art.width, 64);
    QCOMPARE(art.height, 48);
    QVERIFY2(art.image[0] == 0xFF && art.image[1] == 0xD8, "album art is not JPEG data");
    QImage cover;
    QVERIFY2(cover.loadFromData(art.image, (int)art.size), "album art does not decode");
    QCOMPARE(cover.width(), 64);
    QCOMPARE(cover.height(), 48);

    // Asked again (the panel refreshes): the same answer.
    korin_metadata again;
    QCOMPARE(fetchMetadata(e, &again), PLAYENGINE_SUCCESS);
    QCOMPARE(QByteArray(again.title), QByteArray("Korin Test Title"));
    QCOMPARE(again.album_art_info.size, art.size);
    QImage cover2;
    QVERIFY(cover2.loadFromData(again.album_art_info.image, (int)again.album_art_info.size));
    QCOMPARE(cover2.size(), QSize(64, 48));

    // Still right while playing.
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QThread::msleep(300);
    QCOMPARE(fetchMetadata(e, &again), PLAYENGINE_SUCCESS);
    QCOMPARE(QByteArray(again.artist), QByteArray("Korin Test Artist"));
    QCOMPARE(again.n_audio, 1);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);
}

void TestThumbnailMetadata::metadataOfVideoAndPlainAudio()
{
    REQUIRE_MEDIA("clip.mp4");
    REQUIRE_MEDIA("tagged.ogg");
    REQUIRE_MEDIA("tone.wav");
    Engine e;
    QVERIFY(e.get());
    korin_metadata m;
    QString field;

    QCOMPARE(ENG(e, set_file, mediaPath("clip.mp4").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QVERIFY2(textFieldsTerminated(m, &field), qPrintable(field + " is not NUL-terminated"));
    QCOMPARE(m.n_video, 1);
    QCOMPARE(m.n_audio, 1);
    QCOMPARE(m.n_subtitle, 0);
    QVERIFY(m.container[0]);
    QVERIFY2(QByteArray(m.pathname).contains("clip.mp4"), m.pathname);
    QVERIFY(m.video_info[0].codec_type[0]);
    QCOMPARE(m.video_info[0].width, 320);
    QCOMPARE(m.video_info[0].height, 240);
    QVERIFY(m.video_info[0].framerate_denominator > 0);
    QCOMPARE(m.video_info[0].framerate_numerator / m.video_info[0].framerate_denominator, 25);
    QVERIFY(m.audio_info[0].codec_type[0]);
    QCOMPARE(m.audio_info[0].samplerate, 48000);
    QCOMPARE(m.audio_info[0].channels, 2);
    QCOMPARE(QByteArray(m.title), QByteArray());
    QVERIFY2(m.album_art_info.image == nullptr || m.album_art_info.size == 0,
             "album art for a clip without a cover");
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    QCOMPARE(ENG(e, set_file, mediaPath("tagged.ogg").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QVERIFY2(textFieldsTerminated(m, &field), qPrintable(field + " is not NUL-terminated"));
    QCOMPARE(QByteArray(m.title), QByteArray("Ogg Test Title"));
    QCOMPARE(QByteArray(m.artist), QByteArray("Ogg Test Artist"));
    QCOMPARE(QByteArray(m.album), QByteArray("Ogg Test Album"));
    QCOMPARE(m.n_video, 0);
    QCOMPARE(m.n_audio, 1);
    QVERIFY(m.audio_info[0].codec_type[0]);
    QCOMPARE(m.audio_info[0].samplerate, 44100);
    QCOMPARE(m.audio_info[0].channels, 2);
    QVERIFY(m.album_art_info.image == nullptr || m.album_art_info.size == 0);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    // No tags at all: every text field empty but terminated.
    QCOMPARE(ENG(e, set_file, mediaPath("tone.wav").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);
    QCOMPARE(fetchMetadata(e, &m), PLAYENGINE_SUCCESS);
    QVERIFY2(textFieldsTerminated(m, &field), qPrintable(field + " is not NUL-terminated"));
    QCOMPARE(QByteArray(m.title), QByteArray());
    QCOMPARE(QByteArray(m.artist), QByteArray());
    QCOMPARE(m.n_video, 0);
    QCOMPARE(m.n_audio, 1);
    QCOMPARE(m.audio_info[0].samplerate, 22050);
    QCOMPARE(m.audio_info[0].channels, 1);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

void TestThumbnailMetadata::metadataOfManyTracks()
{
    REQUIRE_MEDIA("tenaudio.mkv");
    Engine e;
    QVERIFY(e.get());
    QCOMPARE(ENG(e, set_file, mediaPath("tenaudio.mkv").constData()), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, pause), PLAYENGINE_SUCCESS);

    // The record sits between guard bytes: nothing past the 8 track entries.
    struct Guarded {
        unsigned char before[64];
        korin_metadata m;
        unsigned char after[256];
    };
    std::unique_ptr<Guarded> holder(new Guarded);
    Guarded* g = holder.get();
    memset(g, 0x5A, sizeof(*g));
    QCOMPARE(ENG(e, get_metadata, &g->m), PLAYENGINE_SUCCESS);
    for (unsigned char c : g->before)
        QCOMPARE((int)c, 0x5A);
    for (unsigned char c : g->after)
        QCOMPARE((int)c, 0x5A);
    QString field;
    QVERIFY2(textFieldsTerminated(g->m, &field), qPrintable(field + " is not NUL-terminated"));
    QCOMPARE(g->m.n_audio, 10);
    QCOMPARE(g->m.n_video, 0);
    for (int i = 0; i < KORIN_METADATA_MAX_TRACKS; i++) {
        QVERIFY2(g->m.audio_info[i].codec_type[0], qPrintable(QString::number(i)));
        QCOMPARE(g->m.audio_info[i].samplerate, 48000);
        QCOMPARE(g->m.audio_info[i].channels, 2);
    }
    gint n = 0;
    QCOMPARE(ENG(e, get_audio_num, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 10);
    // The ninth and tenth tracks can be chosen even though the record lists 8.
    QCOMPARE(ENG(e, select_audio, 9), PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, get_cur_audio_no, &n), PLAYENGINE_SUCCESS);
    QCOMPARE(n, 9);
    QCOMPARE(ENG(e, play), PLAYENGINE_SUCCESS);
    QVERIFY(waitForPositionAbove(e, kSecond / 4, 5000) > 0);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);
}

QTEST_GUILESS_MAIN(TestThumbnailMetadata)
#include "tst_thumbnail_metadata.moc"
