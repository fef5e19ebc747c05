// Settings chosen in the settings dialog reach the real recorder engine: a
// recording made afterwards has the container, encoder and size chosen, a
// pair the engine cannot mux is refused with a box (no file, no thumbnail),
// and RTP reaches a local receiver.
// Captures go to a directory with a non-ASCII name.
#include <QtTest>
#include <QComboBox>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
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

    void pick(const char* box, const QString& text)
    {
        auto* combo = d->findChild<QComboBox*>(box);
        const int i = combo->findText(text);
        QVERIFY2(i >= 0, qPrintable(text));
        combo->setCurrentIndex(i);
    }
    void pressOk() { d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click(); }
    QStringList captures() const
    {
        return m_home.entryList({"dedavevuz_*"}, QDir::Files)
            .filter(QRegularExpression("^(?!.*_thumbnail\\.jpg$)"));
    }
    // Starts a recording, lets it run ms, stops it; *added gets the new files.
    void record(int ms, QStringList* added)
    {
        QTRY_VERIFY_WITH_TIMEOUT(w->videoThumbnailer()->isCaptureDone(), 15000);
        const QStringList before = captures();
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(ms);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), PREVIREW, 10000);
        for (const QString& f : captures())
            if (!before.contains(f))
                *added << m_home.filePath(f);
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

    void recordsWhatIsSet_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("encoder");
        QTest::addColumn<QString>("capability");
        QTest::addColumn<QString>("containerName");
        QTest::addColumn<QString>("codecName");
        QTest::addColumn<QSize>("size");
        const QString vga = "width: 640, height: 480, fps: 30";
        QTest::newRow("MKV MPEG4 1280x720") << "MKV" << "MPEG4" << "width: 1280, height: 720, fps: 30"
                                            << "Matroska" << "MPEG-4" << QSize(1280, 720);
        QTest::newRow("MOV H263 800x600") << "MOV" << "H263" << "width: 800, height: 600, fps: 30"
                                          << "Quicktime" << "H.26n" << QSize(704, 576); // qtdemux names H.263 so
        QTest::newRow("AVI MPEG 800x600") << "AVI" << "MPEG" << "width: 800, height: 600, fps: 30"
                                          << "AVI" << "MPEG-2" << QSize(800, 600);
        QTest::newRow("FLV H264 320x240") << "FLV" << "H264" << "width: 320, height: 240, fps: 30"
                                          << "Flash" << "H.264" << QSize(320, 240);
        QTest::newRow("MP4 H263 cannot be muxed") << "MP4" << "H263" << vga << "" << "" << QSize();
    }
    void recordsWhatIsSet()
    {
        QFETCH(QString, container);
        QFETCH(QString, encoder);
        QFETCH(QString, capability);
        QFETCH(QString, containerName);
        QFETCH(QString, codecName);
        QFETCH(QSize, size);
        pick("containerFmtComboBox", container);
        pick("videoEncoderComboBox", encoder);
        pick("capabilityComboBox", capability);
        pressOk();
        if (!size.isValid()) {
            BoxCatcher box;
            QSignalSpy thumbs(w, &MainWindow::getThumbnail);
            const QStringList before = m_home.entryList(QDir::Files);
            w->sendCMDtoEngine(VIDEO_MODE);
            QTRY_COMPARE_WITH_TIMEOUT(box.title, QString("Recorder Engine Error"), 10000);
            QCOMPARE(box.text, QString("start recording failed"));
            QTest::qWait(200);
            QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
            QCOMPARE(m_home.entryList(QDir::Files), before);
            QCOMPARE(thumbs.count(), 0);
            return;
        }
        QStringList files;
        record(1500, &files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].endsWith("." + container.toLower()));
        const PlayCheck c = checkPlays(files[0]);
        QVERIFY(c.opened);
        QVERIFY2(c.container.contains(containerName), qPrintable(c.container));
        QVERIFY2(c.videoCodec.contains(codecName), qPrintable(c.videoCodec));
        QCOMPARE(QSize(c.width, c.height), size);
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
        QVERIFY(rx.hasPendingDatagrams());
        QByteArray packet(int(rx.pendingDatagramSize()), 0);
        QCOMPARE(rx.readDatagram(packet.data(), packet.size()), qint64(packet.size()));
        QVERIFY(packet.size() > 12 && (quint8(packet[0]) >> 6) == 2 && (packet[1] & 0x7f) == 33);
        QCOMPARE(quint8(packet[12]), quint8(0x47));

        d->findChild<QCheckBox*>("enableRtpChkBox")->click(); // streaming off again
        pressOk();
    }
};

QTEST_MAIN(TestSettingsEngine)
#include "tst_camera_settings_engine.moc"
