// The storage watcher on temporary folders, with the free-space query
// replaced to simulate a nearly full or failing file system.
#include <QtTest>

#include "filesystemwatcher.h"
#include "spacequery.h"

namespace {
std::mutex s_logLock;
QStringList s_warnings;
void collect(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtWarningMsg) {
        std::lock_guard<std::mutex> l(s_logLock);
        s_warnings << msg;
    }
}
int warningCount(const QString& text)
{
    std::lock_guard<std::mutex> l(s_logLock);
    return s_warnings.filter(text).size();
}

int failing(const char*, struct statvfs64*)
{
    errno = EIO;
    return -1;
}

void touch(const QString& path, int ageSeconds)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1 && f.flush());
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
}
}

class TestStorageWatcher : public QObject
{
    Q_OBJECT

    QStringList m_firsts;   // nameListFirstChanged, as received here
    QList<double> m_low;    // storageNotEnough values
    QList<qint64> m_lowAt;  // and when they came

    void watch(FileSystemWatcher* w)
    {
        connect(w, &FileSystemWatcher::nameListFirstChanged, this,
                [this](QString n) { m_firsts << n; }, Qt::QueuedConnection);
        connect(w, &FileSystemWatcher::storageNotEnough, this, [this](double mb) {
            m_low << mb;
            m_lowAt << QDateTime::currentMSecsSinceEpoch();
        }, Qt::QueuedConnection);
    }
    static void stop(FileSystemWatcher* w)
    {
        QElapsedTimer t;
        t.start();
        w->needQuit();
        QVERIFY(w->wait(5000));
        QVERIFY(t.elapsed() < 1000);
    }

private slots:
    void init()
    {
        m_firsts.clear();
        m_low.clear();
        m_lowAt.clear();
        FileSystemWatcher::setSpaceQuery(roomy);
    }

    // Newest first, only jpg and png, one signal per change of the first name.
    void nameList()
    {
        QTemporaryDir dir;
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.updateNameList();
        QVERIFY(w.getNameList().isEmpty());
        QCoreApplication::processEvents();
        QVERIFY(m_firsts.isEmpty());

        touch(dir.filePath("a.jpg"), 300);
        touch(dir.filePath("b.png"), 200);
        touch(dir.filePath("c.jpeg"), 10);
        touch(dir.filePath("d.mp4"), 10);
        touch(dir.filePath("e.ts"), 10);
        QVERIFY(QDir(dir.path()).mkdir("g.jpg")); // a folder, not a picture
        w.updateNameList();
        QCOMPARE(w.getNameList(), QStringList({"b.png", "a.jpg"}));
        QTRY_COMPARE(m_firsts, QStringList({"b.png"}));

        // An older picture copied in changes the list but not the first.
        touch(dir.filePath("old.jpg"), 5000);
        w.updateNameList();
        QCOMPARE(w.getNameList(), QStringList({"b.png", "a.jpg", "old.jpg"}));
        touch(dir.filePath("new.jpg"), 0);
        w.updateNameList();
        w.updateNameList();
        QTRY_COMPARE(m_firsts, QStringList({"b.png", "new.jpg"}));

        // Removing every picture reports an empty name, once.
        for (const QString& n : w.getNameList())
            QVERIFY(QFile::remove(dir.filePath(n)));
        w.updateNameList();
        w.updateNameList();
        QTRY_COMPARE(m_firsts, QStringList({"b.png", "new.jpg", ""}));

        // Another save directory: the process follows it.
        QTemporaryDir other;
        touch(other.filePath("z.png"), 0);
        w.changeDir(other.path());
        QCOMPARE(QDir::currentPath(), QDir(other.path()).canonicalPath());
        QCOMPARE(w.getNameList(), QStringList({"z.png"}));
        QTRY_COMPARE(m_firsts.last(), QString("z.png"));
        // One that cannot be entered: the watch stays where captures go.
        w.changeDir(other.filePath("missing"));
        touch(other.filePath("y.png"), 60);
        w.updateNameList();
        QCOMPARE(QDir::currentPath(), QDir(other.path()).canonicalPath());
        QCOMPARE(w.getNameList().size(), 2);
    }

    // The poll loop: a new picture is picked up, low storage is reported
    // about every 2 s (its figure, in free fragments rather than blocks, is
    // in camera_window's "Storage is low" box), and a quit is prompt.
    void pollLoop()
    {
        QTemporaryDir dir;
        FileSystemWatcher::setSpaceQuery(nearlyFull);
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 2000);
        touch(dir.filePath("shot.jpg"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 3, 6000);
        QCOMPARE(m_firsts, QStringList({"shot.jpg"}));
        const qint64 gap = m_lowAt[2] - m_lowAt[1];
        QVERIFY2(gap > 1500 && gap < 3000, QByteArray::number(gap));

        // Plenty of room again: the reports stop.
        FileSystemWatcher::setSpaceQuery(roomy);
        QTest::qWait(2500);
        const int n = m_low.size();
        QTest::qWait(2500);
        QCOMPARE(m_low.size(), n);
        stop(&w);
    }

    // A failing query: logged, last good figures kept; before any success the
    // free space reads 0 MB. A vanished directory is logged and survives.
    void badInput()
    {
        qInstallMessageHandler(collect);
        QTemporaryDir dir;
        FileSystemWatcher::setSpaceQuery(failing);
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 2000);
        QCOMPARE(m_low.first(), 0.0);
        QTRY_VERIFY(warningCount("get file system info failed!") >= 1);
        QVERIFY(warningCount(QString::fromLocal8Bit(strerror(EIO))) >= 1);
        stop(&w);

        m_low.clear();
        FileSystemWatcher::setSpaceQuery(nearlyFull);
        FileSystemWatcher w2(dir.path());
        watch(&w2);
        w2.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 2000);
        FileSystemWatcher::setSpaceQuery(failing);
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 2, 4000);
        QCOMPARE(m_low.last(), 10.0); // the last good figures

        // The save directory disappears: logged, no list update, no crash.
        FileSystemWatcher::setSpaceQuery(roomy);
        QTemporaryDir gone;
        touch(gone.filePath("p.jpg"), 0);
        w2.changeDir(gone.path());
        QVERIFY(gone.remove());
        QTRY_VERIFY_WITH_TIMEOUT(warningCount("file path not found") >= 1, 5000);
        QCOMPARE(w2.getNameList(), QStringList({"p.jpg"}));
        stop(&w2);
        qInstallMessageHandler(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestStorageWatcher)
#include "tst_storage_watcher.moc"
