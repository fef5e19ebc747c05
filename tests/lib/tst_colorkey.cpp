// The colour key as both programs paint it, from the raw "COLORKEY" text.
#include "colorkey.h"

#include <QtTest>

class TestColorKey : public QObject
{
    Q_OBJECT

private:
    static QString keyColour(const QByteArray* value)
    {
        if (value)
            qputenv("COLORKEY", *value);
        else
            qunsetenv("COLORKEY");
        QColor c(Qt::red); // must be overwritten in every case
        ColorKey::color_key_to_qcolor(c);
        return c.name();
    }

private slots:
    void colours_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<quint32>("key");
        QTest::newRow("camera default") << QByteArray("00010203") << true << "#000818" << 0x00010203u;
        QTest::newRow("white") << QByteArray("00FFFFFF") << true << "#ffffff" << 0x00FFFFFFu;
        QTest::newRow("green") << QByteArray("00003F00") << true << "#00ff00" << 0x00003F00u;
        QTest::newRow("lower case, full 32 bits") << QByteArray("ffffffff") << true << "#ffffff" << 0xFFFFFFFFu;
        // Bits 14-15 and 5-7 are not part of the key: same colour as the default.
        QTest::newRow("ignored bits") << QByteArray("0001C2E3") << true << "#000818" << 0x0001C2E3u;
        QTest::newRow("absent") << QByteArray() << false << "#000000" << 0u;
        QTest::newRow("empty") << QByteArray("") << true << "#000000" << 0u;
        QTest::newRow("not hex") << QByteArray("00GG0000") << true << "#000000" << 0u;
        QTest::newRow("prefix and blanks") << QByteArray(" 0x00FF0000\n") << true << "#ff0000" << 0x00FF0000u;
        QTest::newRow("negative") << QByteArray("-1") << true << "#000000" << 0u;
        // One digit too many: refused, not cut to its low 32 bits (which would be white).
        QTest::newRow("33 bits") << QByteArray("1FFFFFFFF") << true << "#000000" << 0u;
        QTest::newRow("beyond 64 bits") << QByteArray("100000000000000000") << true << "#000000" << 0u;
    }

    // Rows run one after another in one process: a cached key would fail them.
    void colours()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, set);
        QFETCH(QString, colour);
        QFETCH(quint32, key);
        QCOMPARE(keyColour(set ? &value : nullptr), colour);
        QCOMPARE(ColorKey::korin_player_get_color_key(), key);
    }
};

QTEST_GUILESS_MAIN(TestColorKey)
#include "tst_colorkey.moc"
