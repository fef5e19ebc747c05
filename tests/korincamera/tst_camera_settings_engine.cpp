// Settings chosen in the settings dialog reach the real recorder engine:
// every container and encoder pair the dialog offers records a file that
// plays with that container, codec and size and holds a frame for every
// 1/30 s; RTP reaches a local receiver. Captures go to a directory with a
// non-ASCII name.
#include <QtTest>
#include <QComboBox>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include "appsettingsdialog.h"
#include "menubar.h"
#include "playcheck.h"
#include "videothumbnailer.h"
#include "window_util.h"

class TestSettingsEngine : public QObject
{
    Q_OBJECT
    QTemporaryDir m_root;
    QDir m_home; // a non-ASCII save directory
    MainWindow* w = nullptr;
    AppSettingsDialog* d = nullptr;

    QComboBox* combo(const char* name) { return d->findChild<QComboBox*>(name); }
    void pick(const char* box, const QString& text)
    {
        combo(box)->setCurrentText(text);
        QCOMPARE(combo(box)->currentText(), text);
    }
    void pressOk() { d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click(); }
    QStringList captures() const
    {
        // Thumbnails are no captures, nor is one still being written.
        return m_home.entryList({"dedavevuz_*"}, QDir::Files)
            .filter(QRegularExpression("^(?!.*_thumbnail\\.jpg(\\.part)?$)"));
    }
    // Starts a recording, lets it run ms, stops it; *added gets the new files.
    void record(int ms, QStringList* added)
    {
        QTRY_VERIFY_WITH_TIMEOUT(w->videoThumbnailer()->isCaptureDone(), 15000);
        const QStringList before = captures();
        QVERIFY(pressCaptureUntil(w, RUNNING));
        QTest::qWait(ms); // the recording's length
        QVERIFY(pressCaptureUntil(w, PREVIREW));
        for (const QString& f : captures())
            *added << (before.contains(f) ? QStringList() : QStringList(m_home.filePath(f)));
    }

private slots:
    void initTestCase()
    {
        m_home.setPath(m_root.filePath(QString::fromUtf8("josé")));
        QVERIFY(m_home.mkpath("."));
        qputenv("HOME", QFile::encodeName(m_home.path()));
        EngineAdapter::m_workMode = VIDEO_MODE;
        QVERIFY(openCameraWindow(&w));
        d = new AppSettingsDialog(w->cameraMenuBar());
    }
    void cleanupTestCase()
    {
        w->close();
        delete w;
        EngineAdapter::m_workMode = PHOTO_MODE;
    }

    // Each container offers its encoders (MP4 and MOV files cannot carry
    // MPEG-2) and records with each at the capability chosen.
    void everyOfferedPairRecords_data()
    {
        QTest::addColumn<QStringList>("row"); // container, its name as the play engine gives it, capability
        QTest::addColumn<QStringList>("encoders"); // as offered
        QTest::addColumn<QSize>("size");
        const QString vga = "width: 640, height: 480, fps: 30";
        const QStringList all = {"H264", "MPEG4", "H263", "MPEG"}, three = all.mid(0, 3), two = all.mid(0, 2);
        QTest::newRow("MP4") << QStringList{"MP4", "MP4|3GP", vga} << three << QSize(640, 480);
        QTest::newRow("MOV") << QStringList{"MOV", "Quicktime", vga} << three << QSize(640, 480);
        QTest::newRow("MKV") << QStringList{"MKV", "Matroska", "width: 1280, height: 720, fps: 30"} << all
                             << QSize(1280, 720);
        QTest::newRow("AVI") << QStringList{"AVI", "AVI", "width: 1920, height: 1080, fps: 30"} << all
                             << QSize(1920, 1080);
        QTest::newRow("FLV") << QStringList{"FLV", "Flash", vga} << QStringList{"H264"} << QSize(640, 480);
        QTest::newRow("TS") << QStringList{"TS", "MPEG-2 Transport", vga} << two << QSize(640, 480);
    }
    void everyOfferedPairRecords()
    {
        QFETCH(QStringList, row);
        QFETCH(QStringList, encoders);
        QFETCH(QSize, size);
        const QMap<QString, QString> codecName = {
            {"H264", "H.264"}, {"MPEG4", "MPEG-4"}, {"H263", "H.26n"}, {"MPEG", "MPEG-2"}};
        pick("containerFmtComboBox", row[0]);
        QCOMPARE(combo("videoEncoderComboBox")->count(), encoders.size()); // and each is picked below
        pick("capabilityComboBox", row[2]);
        for (const QString& encoder : encoders) {
            const QString pair = row[0] + " " + encoder + ": ";
            pick("videoEncoderComboBox", encoder);
            pressOk();
            QStringList files;
            record(3000, &files);
            QVERIFY2(files.size() == 1 && files[0].endsWith("." + row[0].toLower()), qPrintable(files.join(",")));
            const PlayCheck c = checkPlays(files[0]);
            QVERIFY2(c.opened && c.container.contains(QRegularExpression(row[1])), qPrintable(pair + c.container));
            QVERIFY2(c.videoCodec.contains(codecName[encoder]), qPrintable(pair + c.videoCodec));
            // H.263 takes only fixed sizes: the largest that fits.
            const QSize want = encoder != "H263" ? size : size.width() >= 704 ? QSize(704, 576) : QSize(352, 288);
            QCOMPARE(QSize(c.width, c.height), want);
            // Real time: a frame for every 1/30 s of the file, which holds
            // most of the 3 s between the presses.
            const int frames = countFrames(files[0]);
            QVERIFY2(c.seconds > 2.0 && qAbs(frames - c.seconds * 30) <= 0.05 * c.seconds * 30,
                     qPrintable(pair + QString("%1 frames in %2 s").arg(frames).arg(c.seconds)));
        }
    }

    // With RTP on, the recording goes to a receiver on 127.0.0.1 as RTP
    // (version 2, payload type 33) carrying MPEG-TS packets, and writes no file.
    void rtpReachesLocalReceiver()
    {
        QUdpSocket rx;
        QVERIFY(rx.bind(QHostAddress(QHostAddress::LocalHost), 0));
        d->findChild<QCheckBox*>("enableRtpChkBox")->click();
        d->findChild<QLineEdit*>("IPLineEdit")->setText("127.0.0.1");
        d->findChild<QLineEdit*>("portLineEdit")->setText(QString::number(rx.localPort()));
        pressOk();
        QStringList files;
        record(1500, &files);
        QVERIFY(files.isEmpty());
        const QByteArray packet = rx.receiveDatagram().data();
        QVERIFY(packet.size() > 12 && (quint8(packet[0]) >> 6) == 2 && (packet[1] & 0x7f) == 33);
        QCOMPARE(quint8(packet[12]), quint8(0x47));
    }
};

QTEST_MAIN(TestSettingsEngine)
#include "tst_camera_settings_engine.moc"
