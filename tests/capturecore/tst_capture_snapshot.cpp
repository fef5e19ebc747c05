/* Snapshots: complete pictures of the chosen size at the path set last, with
 * the time stamp and the effects visible in them. */
#include "capture_test_util.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

namespace {

/* Share of columns whose brightness changes down the region: the test
 * pattern's bars are vertical (and scroll sideways), so an untouched
 * picture scores near zero. */
double bentColumns(const QImage &img, QRect r)
{
    int bent = 0, n = 0;
    for (int x = r.left(); x <= r.right(); x += 2) {
        int lo = 255, hi = 0;
        for (int y = r.top(); y <= r.bottom(); y++) {
            int g = qGray(img.pixel(x, y));
            lo = qMin(lo, g);
            hi = qMax(hi, g);
        }
        bent += hi - lo > 20;
        n++;
    }
    return n ? double(bent) / n : 0;
}

/* Mean difference between a pixel and its mirror image across the middle. */
double asymmetry(const QImage &img, QRect r)
{
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); y += 2)
        for (int x = 0; x < img.width() / 2; x += 2) {
            sum += qAbs(qGray(img.pixel(x, y)) - qGray(img.pixel(img.width() - 1 - x, y)));
            n++;
        }
    return n ? sum / n : 0;
}

} // namespace

class TestCaptureSnapshot : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = nullptr;

    QImage snap(const QString &name)
    {
        QString path = dir.path() + "/" + name;
        if (e->set_output_file_path(e, path.toUtf8().constData()) || e->take_snapshot(e))
            return QImage();
        return QImage(path);
    }

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        e = startEngine(&log);
        QVERIFY(e);
        QCOMPARE(e->prepare(e), 0u);
    }
    void cleanupTestCase() { endEngine(e); }
    void sizePathAndFormat();
    void timeStampIsBurnedIn();
    void effectsChangeThePicture_data();
    void effectsChangeThePicture();
};

void TestCaptureSnapshot::sizePathAndFormat()
{
    RERawVideoSettings hd = {0, 1280, 720, 30};
    QCOMPARE(e->set_camera_output_settings(e, &hd), 0u);
    QCOMPARE(e->reset(e), 0u);

    /* Complete on return: loads at once, at the capture size. */
    QImage a = snap("a.jpg");
    QCOMPARE(a.size(), QSize(1280, 720));
    QFile f(dir.path() + "/a.jpg");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xff\xd8") && bytes.endsWith("\xff\xd9"));

    /* The path set last wins, whichever setter set it; PNG on request. */
    QString b = dir.path() + "/b.png";
    QCOMPARE(e->set_snapshot_output_format(e, 2), 0u);
    QCOMPARE(e->set_snapshot_output_file(e, b.toUtf8().constData()), 0u);
    QCOMPARE(e->take_snapshot(e), 0u);
    QCOMPARE(QImage(b, "PNG").size(), QSize(1280, 720));
    QCOMPARE(e->set_snapshot_output_format(e, 0), 0u);
    QImage c = snap("c.jpg");
    QVERIFY(!c.isNull());

    /* While recording and with the viewfinder hidden, snapshots go on. */
    QString rec = dir.path() + "/rec.mp4";
    QCOMPARE(startAt(e, rec), 0u);
    QCOMPARE(e->disable_viewfinder(e, 1), 0u);
    QString during = dir.path() + "/during.jpg";
    QCOMPARE(e->set_snapshot_output_file(e, during.toUtf8().constData()), 0u);
    QCOMPARE(e->take_snapshot(e), 0u);
    QCOMPARE(QImage(during).size(), QSize(1280, 720));
    QVERIFY(recordedFor(e, 0.5));
    QCOMPARE(e->stop(e), 0u);
    QCOMPARE(e->disable_viewfinder(e, 0), 0u);
    QVERIFY(discover(rec).ok);

    /* A folder where nothing can be written: failure, and no leftovers. */
    QCOMPARE(e->set_output_file_path(e, "/proc/snap.jpg"), 0u);
    QVERIFY(e->take_snapshot(e) != 0);
    QVERIFY(QDir(dir.path()).entryList({"*.part*"}, QDir::Files).isEmpty());

    RERawVideoSettings def = {0, 0, 0, 0};
    QCOMPARE(e->set_camera_output_settings(e, &def), 0u);
    QCOMPARE(e->reset(e), 0u);
    QCOMPARE(snap("default.jpg").size(), QSize(640, 480));
}

void TestCaptureSnapshot::timeStampIsBurnedIn()
{
    /* The stamp sits top left, over the bars. */
    QRect corner(0, 2, 300, 40);
    QImage plain = snap("plain.jpg");
    QVERIFY(!plain.isNull());
    QCOMPARE(e->add_time_stamp(e, 1), 0u);
    QImage stamped = snap("stamped.jpg");
    QCOMPARE(e->add_time_stamp(e, 0), 0u);
    QImage after = snap("after.jpg");
    double p = bentColumns(plain, corner), s = bentColumns(stamped, corner), a = bentColumns(after, corner);
    QVERIFY2(p < 0.05 && a < 0.05 && s > 0.3, qPrintable(QString("plain %1 stamped %2 after %3").arg(p).arg(s).arg(a)));
    /* The rest of the picture is untouched by the stamp. */
    QVERIFY(bentColumns(stamped, QRect(0, 60, 640, 220)) < 0.05);
}

void TestCaptureSnapshot::effectsChangeThePicture_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("Cube") << 1;
    QTest::newRow("Mirror") << 2;
    QTest::newRow("Squeeze") << 3;
    QTest::newRow("FishEye") << 4;
    QTest::newRow("Tunnel") << 6;
    QTest::newRow("Twirl") << 7;
}

void TestCaptureSnapshot::effectsChangeThePicture()
{
    QFETCH(int, code);
    QRect bars(0, 0, 640, 300);
    QCOMPARE(e->add_video_effect(e, 0), 0u);
    QCOMPARE(e->reset(e), 0u);
    QImage plain = snap("noeffect.jpg");
    QCOMPARE(e->add_video_effect(e, code), 0u);
    QCOMPARE(e->reset(e), 0u);
    QImage fx = snap(QString("effect%1.jpg").arg(code));
    QCOMPARE(e->add_video_effect(e, 0), 0u);
    QCOMPARE(fx.size(), QSize(640, 480));
    if (code == 2) {
        /* Mirror: one half reflects the other. */
        double p = asymmetry(plain, bars), f = asymmetry(fx, bars);
        QVERIFY2(f < p / 4, qPrintable(QString("asymmetry plain %1 mirrored %2").arg(p).arg(f)));
    } else {
        /* The others bend or move the vertical bars. */
        double p = bentColumns(plain, bars), f = bentColumns(fx, bars);
        QVERIFY2(p < 0.05 && f > 0.2, qPrintable(QString("bent columns plain %1 effect %2").arg(p).arg(f)));
    }
    QCOMPARE(e->reset(e), 0u);
}

QTEST_GUILESS_MAIN(TestCaptureSnapshot)
#include "tst_capture_snapshot.moc"
