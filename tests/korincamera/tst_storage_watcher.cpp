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

    QStringList m_firsts; // nameListFirstChanged, as received here
    QList<double> m_low;  // storageNotEnough values
    QStringList m_missing; // folderMissing

    void watch(FileSystemWatcher* w)
    {
        connect(w, &FileSystemWatcher::nameListFirstChanged, this, [this](QString n) { m_firsts << n; });
        connect(w, &FileSystemWatcher::storageNotEnough, this, [this](double mb) { m_low << mb; });
        connect(w, &FileSystemWatcher::folderMissing, this, [this](QString path) { m_missing << path; });
    }
    // The quit is seen within the poll's sleep, not after it.
    static void stop(FileSystemWatcher* w)
    {
        QElapsedTimer t;
        t.start();
        w->needQuit();
        QVERIFY(w->wait(5000));
        QVERIFY(t.elapsed() < 1900);
    }

private slots:
    void init()
    {
        m_firsts.clear();
        m_low.clear();
        m_missing.clear();
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
        touch(dir.filePath("a.jpg"), 300);
        touch(dir.filePath("b.png"), 200);
        for (const char* other : {"c.jpeg", "d.mp4", "e.ts", "f.jpg.part"})
            touch(dir.filePath(other), 10);
        QVERIFY(QDir(dir.path()).mkdir("g.jpg")); // a folder, not a picture
        w.updateNameList();
        QCOMPARE(w.getNameList(), QStringList({"b.png", "a.jpg"}));

        // An older picture copied in changes the list but not the first.
        touch(dir.filePath("old.jpg"), 5000);
        w.updateNameList();
        QCOMPARE(w.getNameList(), QStringList({"b.png", "a.jpg", "old.jpg"}));
        touch(dir.filePath("new.jpg"), 0);
        w.updateNameList();
        w.updateNameList();
        // Removing every picture reports an empty name, once.
        for (const QString& n : w.getNameList())
            QVERIFY(QFile::remove(dir.filePath(n)));
        w.updateNameList();
        w.updateNameList();
        QTRY_COMPARE(m_firsts, QStringList({"b.png", "new.jpg", ""}));

        // Another save directory: the process follows it; one that cannot be
        // entered leaves the watch where captures go.
        QTemporaryDir other;
        touch(other.filePath("z.png"), 0);
        w.changeDir(other.path());
        w.changeDir(other.filePath("missing"));
        QCOMPARE(QDir::currentPath(), QDir(other.path()).canonicalPath());
        QCOMPARE(w.getCurrentDir(), QDir::currentPath());
        QCOMPARE(w.getNameList(), QStringList({"z.png"}));
    }

    // The poll loop: a new picture is picked up, low storage is reported on
    // each pass (its figure, in free fragments rather than blocks, is in
    // camera_window's "Storage is low" box) and no more once there is room,
    // and a quit is prompt.
    void pollLoop()
    {
        QTemporaryDir dir;
        FileSystemWatcher::setSpaceQuery(nearlyFull);
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.start();
        touch(dir.filePath("shot.jpg"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 2 && m_firsts == QStringList({"shot.jpg"}), 6000);
        QCOMPARE(m_low.last(), 10.0);

        // Plenty of room: after the next full pass, no report in the one after.
        FileSystemWatcher::setSpaceQuery(roomy);
        touch(dir.filePath("one.jpg"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.getNameList().value(0), QString("one.jpg"), 6000);
        QCoreApplication::processEvents(); // reports sent before that pass
        const int n = m_low.size();
        touch(dir.filePath("two.jpg"), -5);
        QTRY_COMPARE_WITH_TIMEOUT(w.getNameList().value(0), QString("two.jpg"), 6000);
        QCoreApplication::processEvents();
        QCOMPARE(m_low.size(), n);
        stop(&w);
    }

    // A failing query: logged, last good figures kept, and a capture check
    // says why; before any success the free space reads 0 MB.
    void failingQuery()
    {
        qInstallMessageHandler(collect);
        QTemporaryDir dir;
        FileSystemWatcher::setSpaceQuery(failing);
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 3000);
        QCOMPARE(m_low.first(), 0.0);
        QTRY_VERIFY(warningCount(QString::fromLocal8Bit(strerror(EIO))) >= 1);
        QVERIFY(warningCount("get file system info failed!") >= 1);
        double mb = -1;
        QCOMPARE(w.checkBeforeCapture(&mb), QString("write error"));
        FileSystemWatcher::setSpaceQuery(nearlyFull);
        QCOMPARE(w.checkBeforeCapture(&mb), QString());
        QCOMPARE(mb, 10.0);
        FileSystemWatcher::setSpaceQuery(failing);
        QCoreApplication::processEvents();
        m_low.clear();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 4000);
        QCOMPARE(m_low.last(), 10.0); // the last good figures
        stop(&w);
        qInstallMessageHandler(nullptr);
    }

    // The save folder removed: reported on each pass while gone, the chosen
    // path kept; back again, it is watched and entered again. A capture
    // check makes it again on its own file system.
    void folderRemoved()
    {
        QTemporaryDir top;
        const QString save = top.filePath("save");
        QVERIFY(QDir().mkdir(save));
        FileSystemWatcher w(save);
        watch(&w);
        w.start();
        QVERIFY(QDir(save).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(m_missing.size() >= 1, 4000);
        QCOMPARE(m_missing.first(), save);
        QCOMPARE(w.getCurrentDir(), save);
        QVERIFY(QDir().mkdir(save));
        touch(save + "/back.jpg", 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.getNameList(), QStringList({"back.jpg"}), 8000);
        QCOMPARE(QDir::currentPath(), save);

        QVERIFY(QDir(save).removeRecursively());
        double mb = 0;
        QCOMPARE(w.checkBeforeCapture(&mb), QString());
        QVERIFY(QFileInfo(save).isDir() && mb > 50);
        stop(&w);
    }
};

QTEST_GUILESS_MAIN(TestStorageWatcher)
#include "tst_storage_watcher.moc"
