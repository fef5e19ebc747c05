// The media information panel and the picture of audio files, on generated
// files with tags, a cover, no cover and ten audio streams.
#include "mediainfowidget.h"
#include "player_test_util.h"

#include <QLabel>

#include <cstring>

class TestMediaInfo : public QObject
{
    Q_OBJECT

    std::unique_ptr<korinplayer> w;

    // Loads path and opens the panel; returns its text.
    QString panelOf(const char* name)
    {
        if (w->infoWidget)
            w->showMediaInfo(); // closes it
        if (!w->stop() || w->preLoadFile(media(name)) != 0)
            return QString();
        QTest::mouseClick(w->playControl->infoButton, Qt::LeftButton);
        return w->infoWidget ? w->infoWidget->infoLabel()->text() : QString();
    }

private slots:
    void initTestCase() { initPlayerResources(); }

    void recordText()
    {
        // Unterminated text, hostile tags and more tracks than the record holds.
        korin_metadata md;
        std::memset(&md, 'A', sizeof md);
        std::strcpy(md.artist, "<b>Band</b>");
        md.n_audio = 10;
        md.n_video = 0;
        md.n_subtitle = -3;
        const QString text = MediaInfoWidget::describe(md, "59s", "unknown");
        QVERIFY(text.startsWith("Title: " + QString(256, 'A') + "\nArtist: <b>Band</b>\n"));
        QVERIFY(text.contains("Duration: 59s\nContainer: " + QString(64, 'A') + "\nSeekable: unknown\n"));
        QVERIFY(text.contains("Videos: [0], Audios: [10], Subtitles: [-3]\n"));
        QCOMPARE(text.count(QRegularExpression("^Audio \\d", QRegularExpression::MultilineOption)), 8);
        QVERIFY(!text.contains("Subtitle 1"));
    }

    void panelAndPictures()
    {
        QVERIFY(openPlayer(w));

        const QString song = panelOf("song.mp3");
        for (const char* line : {"Title: Korin Test Song\n", "Artist: Korin Band\n", "Album: Test Album\n",
                                 "Genre: Ambient\n", "Seekable: Yes\n", "Videos: [0], Audios: [1], Subtitles: [0]\n"})
            QVERIFY2(song.contains(QLatin1String(line)), qPrintable(song));
        QVERIFY2(song.contains(QRegularExpression("Duration: ([23]s|unknown)\n")), qPrintable(song));
        QVERIFY(song.contains(QRegularExpression("Audio 1: .+, Language: .*\n        2 Channels, 48000 Hz, \\d+ bps\n")));
        QCOMPARE(w->mediaType, AUDIO_TYPE);
        QVERIFY(w->imageInfo);
        QCOMPARE(w->imageInfo->size(), QSize(64, 48)); // the cover
        QCOMPARE(w->infoWidget->infoLabel()->textFormat(), Qt::PlainText);
        QTest::mouseClick(w->playControl->infoButton, Qt::LeftButton);
        QVERIFY(!w->infoWidget);

        const QString bare = panelOf("bare.mp3");
        QVERIFY2(bare.contains("Title: Bare Song\n"), qPrintable(bare));
        QCOMPARE(w->mediaType, AUDIO_TYPE);
        QVERIFY(w->imageInfo);
        QCOMPARE(*w->imageInfo, QImage(":/image/album-art-missing.png"));
        QVERIFY(!w->imageInfo->isNull());

        const QString ten = panelOf("ten-audio.mka");
        QVERIFY(ten.contains("Videos: [0], Audios: [10], Subtitles: [0]\n"));
        QVERIFY(ten.contains("Audio 8: ") && !ten.contains("Audio 9: "));

        const QString mkv = panelOf("subs/internal.mkv");
        QVERIFY(mkv.contains("Videos: [1], Audios: [0], Subtitles: [1]\n"));
        QVERIFY(mkv.contains(QRegularExpression("Video 1: .+\n        320 x 240 \\(25/1\\), \\d+ bps\n")));
        QVERIFY(mkv.contains("Subtitle 1: ") && mkv.contains("Duration: 6s\n"));
        QCOMPARE(w->mediaType, VIDEO_TYPE);

        // New metadata reaches an open panel at the next tick; stop closes it.
        QPointer<MediaInfoWidget> old = w->infoWidget;
        w->updateInfo();
        w->updateTime();
        QVERIFY(!old && w->infoWidget && !w->updateMediaInfo);
        QVERIFY(w->stop());
        QVERIFY(!w->infoWidget);
        QCOMPARE(w->mediaType, UNKNOW_TYPE);
    }
};

QTEST_MAIN(TestMediaInfo)
#include "tst_mediainfo.moc"
