/* Limits and accidents: size limits, split recordings, a killed process and
 * a full disk must all leave files that play (the duration limit and a file
 * count alone are in tst_capture_record). */
#include "capture_test_util.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

class TestCaptureLimits : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    EventLog log;
    RecorderEngine *e = nullptr;

    void resetLimits()
    {
        e->set_max_file_size_bytes(e, 0);
        e->set_file_count(e, 0);
        e->set_container_format(e, 0);
        log.clear();
    }
    static QString tool() { return qEnvironmentVariable("CAPTURE_RECORD"); }

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        e = startEngine(&log);
        QVERIFY(e);
        QCOMPARE(e->prepare(e), 0u);
        /* The adapter stops the recording on events 1, 3 and 4. */
        log.onEvent = [this](REuint32 ev) {
            if (ev == RE_EVENT_ERROR || ev == RE_EVENT_MAX_DURATION || ev == RE_EVENT_MAX_FILESIZE)
                e->stop(e);
        };
    }
    void cleanupTestCase()
    {
        log.onEvent = nullptr;
        endEngine(e);
    }
    void sizeLimitOneFile();
    void splitBySizeAndCount();
    void killedRecordingPlays_data();
    void killedRecordingPlays();
    void fullDiskKeepsFile_data();
    void fullDiskKeepsFile();
};

void TestCaptureLimits::sizeLimitOneFile()
{
    resetLimits();
    const REuint64 limit = 600 * 1024;
    for (int container : {0, 2}) {
        log.clear();
        QString path = QString("%1/capped%2.%3").arg(dir.path()).arg(container).arg(container ? "mkv" : "mp4");
        QCOMPARE(e->set_container_format(e, container), 0u);
        QCOMPARE(e->set_max_file_size_bytes(e, limit), 0u);
        QCOMPARE(startAt(e, path), 0u);
        QVERIFY(log.waitFor(RE_EVENT_MAX_FILESIZE, 20000));
        qint64 size = QFileInfo(path).size();
        QVERIFY2(size <= qint64(limit) && size > qint64(limit / 2), qPrintable(QString::number(size)));
        QCOMPARE(QDir(dir.path()).entryList({QString("capped%1*").arg(container)}, QDir::Files).size(), 1);
        Discovered d = discover(path);
        QVERIFY(d.ok);
        QVERIFY(d.duration > 1.0);
    }
}

void TestCaptureLimits::splitBySizeAndCount()
{
    resetLimits();
    /* As the camera names it: a folder and a file of the same stem. */
    QDir(dir.path()).mkdir("rec");
    QString path = dir.path() + "/rec/rec.mp4";
    const REuint64 limit = 300 * 1024;
    QCOMPARE(e->set_max_file_size_bytes(e, limit), 0u);
    QCOMPARE(e->set_file_count(e, 3), 0u);
    QCOMPARE(startAt(e, path), 0u);
    QVERIFY(log.waitFor(RE_EVENT_MAX_FILESIZE, 30000)); /* the handler has stopped it by then */
    QStringList segs = QDir(dir.path() + "/rec").entryList(QDir::Files, QDir::Name);
    QCOMPARE(segs, (QStringList{"rec_001.ts", "rec_002.ts", "rec_003.ts"}));
    double total = 0;
    for (const QString &s : segs) {
        QString f = dir.path() + "/rec/" + s;
        qint64 size = QFileInfo(f).size();
        QVERIFY2(size <= qint64(limit) && size > qint64(limit / 3), qPrintable(s + " " + QString::number(size)));
        Discovered d = discover(f);
        QVERIFY2(d.ok && d.container.contains("MPEG-2 Transport"), qPrintable(d.text));
        /* Each segment plays on its own from its first frame. */
        Decoded v = decodeVideo(f);
        QVERIFY2(v.ok && v.frames > 10, qPrintable(s + v.error));
        total += d.duration;
    }
    REtime us = 0;
    QCOMPARE(e->get_media_time(e, &us), 0u);
    QVERIFY2(qAbs(total - us / 1e6) < 0.15 * total, qPrintable(QString("%1 vs %2").arg(total).arg(us / 1e6)));
}

void TestCaptureLimits::killedRecordingPlays_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<bool>("knowsDuration"); /* from its header or last tag, as players show it */
    QTest::newRow("mp4") << 0 << "mp4" << true;
    QTest::newRow("mov") << 1 << "mov" << true;
    QTest::newRow("mkv") << 2 << "mkv" << false;
    QTest::newRow("flv") << 4 << "flv" << true;
    QTest::newRow("ts") << 5 << "ts" << false;
}

void TestCaptureLimits::killedRecordingPlays()
{
    QFETCH(int, container);
    QFETCH(QString, ext);
    QFETCH(bool, knowsDuration);
    QString path = dir.path() + "/killed." + ext;
    QProcess p;
    p.start(tool(), {"-o", path, "-c", QString::number(container), "-d", "0"});
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForReadyRead(10000));
    QVERIFY(p.readAllStandardOutput().contains("recording"));
    QThread::msleep(4000); /* what it records: nothing tells the file's length from outside */
    p.kill(); /* SIGKILL: nothing gets finalised */
    QVERIFY(p.waitForFinished(5000));
    Discovered d = discover(path);
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok, qPrintable(v.error));
    /* Up to its last second or two. */
    QVERIFY2(v.last >= 2.0, qPrintable(QString("plays to %1 s").arg(v.last)));
    /* A sane duration: not a placeholder such as 24 hours. */
    if (knowsDuration)
        QVERIFY2(d.ok && d.duration >= 2.0 && d.duration < 8.0, qPrintable(d.text));
}

void TestCaptureLimits::fullDiskKeepsFile_data()
{
    QTest::addColumn<int>("container");
    QTest::addColumn<int>("limitKb");
    /* MP4 keeps reserved room for its index at the head of the file. */
    QTest::newRow("mp4") << 0 << 7000;
    QTest::newRow("mkv") << 2 << 1500;
}

void TestCaptureLimits::fullDiskKeepsFile()
{
    QFETCH(int, container);
    QFETCH(int, limitKb);
    /* A file size limit makes writes fail as on a full disk. */
    QString path = dir.path() + (container ? "/full.mkv" : "/full.mp4");
    QProcess p;
    QString cmd = QString("trap '' XFSZ; ulimit -f %1; exec \"%2\" -o \"%3\" -c %4 -s 1280x720 -d 30")
                      .arg(limitKb)
                      .arg(tool(), path)
                      .arg(container);
    p.start("/bin/bash", {"-c", cmd}); /* bash counts ulimit -f in KiB */
    QVERIFY(p.waitForFinished(40000));
    QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains("event 1"), qPrintable(err.right(2000)));
    QVERIFY(err.contains("File too large") || err.contains("write"));
    QCOMPARE(p.exitCode(), 0); /* no crash, no hang */
    QVERIFY(QFileInfo(path).size() <= qint64(limitKb) * 1024);
    Decoded v = decodeVideo(path);
    QVERIFY2(v.ok || v.frames > 30, qPrintable(v.error));
    QVERIFY2(v.last >= 1.0, qPrintable(QString("plays to %1 s").arg(v.last)));
}

QTEST_GUILESS_MAIN(TestCaptureLimits)
#include "tst_capture_limits.moc"
