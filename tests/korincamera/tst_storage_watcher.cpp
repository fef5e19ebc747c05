// The storage watcher on temporary folders, with the free-space query
// replaced to simulate a nearly full or failing file system.
#include <QtTest>

#include "filesystemwatcher.h"
#include "spacequery.h"

namespace {
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
        m_firsts.clear();
        m_low.clear();
        m_missing.clear();
        connect(w, &FileSystemWatcher::nameListFirstChanged, this, [this](QString n) { m_firsts << n; });
        connect(w, &FileSystemWatcher::storageNotEnough, this, [this](double mb) { m_low << mb; });
        connect(w, &FileSystemWatcher::folderMissing, this, [this](QString path) { m_missing << path; });
    }
    static void stop(FileSystemWatcher* w) // seen within the poll's sleep
    {
        QElapsedTimer t;
        t.start();
        w->needQuit();
        QVERIFY(w->wait(5000) && t.elapsed() < 1900);
    }

private slots:
    // Newest first, only jpg and png, one signal per change of the first
    // name; a new save directory is entered, one that cannot be is not.
    void nameList()
    {
        QTemporaryDir dir, other;
        FileSystemWatcher w(dir.path());
        watch(&w);
        touch(dir.filePath("a.jpg"), 300);
        touch(dir.filePath("b.png"), 200);
        for (const char* name : {"c.jpeg", "d.mp4", "e.ts", "f.jpg.part"})
            touch(dir.filePath(name), 10);
        QVERIFY(QDir(dir.path()).mkdir("g.jpg")); // a folder, not a picture
        touch(dir.filePath("old.jpg"), 5000); // copied in: not the first
        w.updateNameList();
        QCOMPARE(w.getNameList(), QStringList({"b.png", "a.jpg", "old.jpg"}));
        touch(dir.filePath("new.jpg"), 0);
        w.updateNameList();
        w.updateNameList();
        for (const QString& n : w.getNameList())
            QVERIFY(QFile::remove(dir.filePath(n)));
        w.updateNameList();
        w.updateNameList();
        QCOMPARE(m_firsts, QStringList({"b.png", "new.jpg", ""}));

        touch(other.filePath("z.png"), 0);
        w.changeDir(other.path());
        w.changeDir(other.filePath("missing"));
        QCOMPARE(QDir::currentPath(), QDir(other.path()).canonicalPath());
        QCOMPARE(w.getCurrentDir(), QDir::currentPath());
        QCOMPARE(w.getNameList(), QStringList({"z.png"}));
    }

    // The poll loop picks up a new picture and reports low storage on each
    // pass, counting free fragments rather than blocks; a quit is prompt.
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
        stop(&w);
    }

    // A failing query: 0 MB before any success, then the last good figures;
    // a capture check says why.
    void failingQuery()
    {
        QTemporaryDir dir;
        FileSystemWatcher::setSpaceQuery(failing);
        FileSystemWatcher w(dir.path());
        watch(&w);
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_low.value(0, -1.0), 0.0, 3000);
        double mb = -1;
        QCOMPARE(w.checkBeforeCapture(&mb), QString("write error"));
        FileSystemWatcher::setSpaceQuery(nearlyFull);
        QCOMPARE(w.checkBeforeCapture(&mb), QString());
        QCOMPARE(mb, 10.0);
        FileSystemWatcher::setSpaceQuery(failing);
        QCoreApplication::processEvents();
        m_low.clear();
        QTRY_VERIFY_WITH_TIMEOUT(m_low.size() >= 1, 4000);
        QCOMPARE(m_low.last(), 10.0);
        stop(&w);
    }

    // A removed save folder is reported while gone, its path kept; made
    // again by hand, it is watched and entered again.
    void folderRemoved()
    {
        QTemporaryDir top;
        const QString save = top.filePath("save");
        QVERIFY(QDir().mkdir(save));
        FileSystemWatcher::setSpaceQuery(roomy);
        FileSystemWatcher w(save);
        watch(&w);
        w.start();
        QVERIFY(QDir(save).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(m_missing.size() >= 1, 4000);
        QCOMPARE(m_missing.first(), save);
        QCOMPARE(w.getCurrentDir(), save);
        QVERIFY(QDir().mkdir(save));
        touch(save + "/back.jpg", 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.getNameList(), QStringList({"back.jpg"}), 10000);
        QCOMPARE(QDir::currentPath(), save);
        stop(&w);
    }
};

QTEST_GUILESS_MAIN(TestStorageWatcher)
#include "tst_storage_watcher.moc"
