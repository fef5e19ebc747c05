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
    void metadataOfTaggedAudio_data();
    void metadataOfTaggedAudio();
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
    // Writable (the play mark is stamped in), and the first frame stays valid.
    memset(blue.image, 0x7f, 48);
    QCOMPARE(frame(blue, 320).pixel(3, 0), qRgb(0x7f, 0x7f, 0x7f));
    checkSolid(red, qRgb(255, 0, 0), "frame at 1 s, read again");

    // Far past the end and negative: bounded, a whole frame or a failure.
    for (int at : {100, -3}) {
        QElapsedTimer t = startedTimer();
        info = {};
        if (ENG(e, get_video_thumbnail, at, &info) == PLAYENGINE_SUCCESS)
            frame(info, 320);
        QVERIFY2(t.elapsed() < 11000, "thumbnail out of range hangs");
    }
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
    // The seven bars in order, not shifted.
    const QRgb bars[] = {qRgb(255, 255, 255), qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(0, 255, 0),
                         qRgb(255, 0, 255), qRgb(255, 0, 0), qRgb(0, 0, 255)};
    for (int i = 0; i < 7; i++) {
        int x = i == 0 ? 5 : i == 6 ? img.width() - 5 : (2 * i + 1) * img.width() / 14;
        QVERIFY2(near(img.pixel(x, 200), bars[i]), qPrintable(QStringLiteral("bar %1").arg(i)));
    }
    // Turned 90° clockwise (the loaded file is reloaded with the flip filter): the left bar on top.
    OK(ENG(e, set_rotate, 90));
    OK(ENG(e, get_video_thumbnail, 1, &info));
    QCOMPARE(QSize(info.width, info.height), QSize(240, 322));
    QCOMPARE(info.size, (gsize)240 * 3 * 322);
    QImage turned(info.image, 240, 322, 240 * 3, QImage::Format_RGB888);
    QVERIFY(near(turned.pixel(120, 5), bars[0]) && near(turned.pixel(120, 316), bars[6]));
}

void TestThumbnailMetadata::metadataOfTaggedAudio_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<bool>("cover");
    QTest::newRow("mp3") << QByteArray("tagged.mp3") << QByteArray("Korin Test ") << true;
    QTest::newRow("flac") << QByteArray("tagged.flac") << QByteArray("Korin Test ") << true;
    QTest::newRow("ogg") << QByteArray("tagged.ogg") << QByteArray("Ogg Test ") << false;
}

void TestThumbnailMetadata::metadataOfTaggedAudio()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, prefix);
    QFETCH(bool, cover);
    EventLog log;
    Engine e(&log);
    QVERIFY(load(e, file));
    korin_metadata m;
    for (int pass = 0; pass < 2; pass++) { // again while playing: the same answer
        FETCH_METADATA(e, m);
        QCOMPARE(QByteArray(m.title), prefix + "Title");
        QCOMPARE(QByteArray(m.artist), prefix + "Artist");
        QCOMPARE(QByteArray(m.album), prefix + "Album");
        QVERIFY(m.container[0] && m.audio_info[0].codec_type[0]);
        QCOMPARE(m.n_video, 0);
        QCOMPARE(m.n_audio, 1);
        QCOMPARE(m.audio_info[0].samplerate, 44100);
        QCOMPARE(m.audio_info[0].channels, 2);
        // The cover: the encoded JPEG as stored, decoding to its stated size.
        const korin_album_art_info& art = m.album_art_info;
        QCOMPARE(art.image != nullptr && art.size > 0, cover);
        if (cover) {
            QImage img;
            QVERIFY2(img.loadFromData(art.image, (int)art.size), "album art does not decode");
            QCOMPARE(img.size(), QSize(64, 48));
            QCOMPARE(QSize(art.width, art.height), QSize(64, 48));
        }
        OK(ENG(e, play));
        QThread::msleep(300);
    }
    if (cover) {
        // The too-long comment is cut at a character boundary (FLAC: 2-byte characters).
        QByteArray comment(m.comment);
        QVERIFY2(comment.size() >= 200, qPrintable(QString::number(comment.size())));
        QByteArray want;
        for (int i = 0; want.size() < comment.size(); i++)
            want += file.endsWith(".flac") ? QString(QChar(0xE9)).toUtf8() : QByteArray(1, char('0' + i % 10));
        QCOMPARE(comment, want);
        QCOMPARE(QByteArray(m.genre), QByteArray("Test"));
    }
    OK(ENG(e, stop));
    QCOMPARE(log.countOf(EVENT_ID_ERROR), 0);

    // Untagged: empty tags, no cover, the stream details still right.
    QVERIFY(load(e, "tone.wav"));
    FETCH_METADATA(e, m);
    QCOMPARE(QByteArray(m.artist), QByteArray());
    QVERIFY(!m.album_art_info.image || !m.album_art_info.size);
    QCOMPARE(m.audio_info[0].samplerate, 22050);
    QCOMPARE(m.audio_info[0].channels, 1);
}

void TestThumbnailMetadata::metadataOfManyTracks()
{
    Engine e;
    QVERIFY(load(e, "tenaudio.mkv"));
    // The record sits between guard bytes: nothing written past 8 tracks.
    std::vector<guint64> buf(8 + sizeof(korin_metadata) / 8 + 32, 0x5A5A5A5A5A5A5A5AULL);
    korin_metadata& m = *reinterpret_cast<korin_metadata*>(buf.data() + 8);
    OK(ENG(e, get_metadata, &m));
    const char* bytes = reinterpret_cast<const char*>(buf.data());
    QCOMPARE(QByteArray(bytes, 64), QByteArray(64, 0x5A));
    QCOMPARE(QByteArray(bytes + 64 + sizeof(korin_metadata), 256), QByteArray(256, 0x5A));
    QVERIFY2(unterminatedField(m).isEmpty(), unterminatedField(m).constData());
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
