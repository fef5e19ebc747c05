#ifndef FILESYSTEMWATCHER_H
#define FILESYSTEMWATCHER_H

#include <QDir>
#include <QSet>
#include <mutex>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <sys/statvfs.h>
#include <sys/types.h>

// Owns the save directory (the process's current directory), keeps the list
// of pictures in it newest first and polls the free space every 2 s.
class FileSystemWatcher : public QThread
{
    Q_OBJECT
public:
    // Fills *out for the file system holding path; 0 on success, otherwise
    // -1 with errno set (the contract of statvfs64).
    typedef int (*SpaceQuery)(const char* path, struct statvfs64* out);

    FileSystemWatcher(QString path, QObject* parent = nullptr);
    ~FileSystemWatcher() override;

    void run() override;
    void needQuit();

    void changeDir(QString path);
    // The save folder as chosen (it stays the same when the folder is
    // removed, which the process's current directory does not).
    QString getCurrentDir();
    // Run before each capture: makes a removed save folder again when its
    // parent lies on the file system the folder was on when chosen, then
    // queries the folder's free space into *freeMb. Empty on success,
    // otherwise the reason nothing can be saved there.
    QString checkBeforeCapture(double* freeMb);
    // The free space of the save folder now, into *freeMb; empty on
    // success, otherwise why it cannot be read.
    QString queryFreeSpace(double* freeMb);
    // A copy of the picture names (no path), newest first.
    QStringList getNameList();
    void updateNameList();

    static quint64 getFreeSpace();
    static quint64 getUsedSpace();
    static void setFilterList(QStringList& filters);
    // The space query used by every watcher; statvfs64 unless replaced.
    static void setSpaceQuery(SpaceQuery query);

signals:
    void nameListFirstChanged(QString name);
    void storageNotEnough(double freesize);
    // A recording (video is the file to take its picture from; multifiles
    // for a split recording's folder) without a thumbnail, seen for the
    // first time.
    void thumbnailMissing(QString video, bool multifiles);
    // The save folder is gone (reported on each poll until it is back).
    void folderMissing(QString path);

private:
    bool sleepUnlessQuit(int ms);
    // Queries the file system of path into m_fsdata; 0 or the errno.
    static int queryFigures(const QByteArray& path);
    // Callers hold mutex.
    bool enterDir(const QString& path);
    bool folderInPlace() const;
    bool remakeFolder();

    static struct statvfs64 m_fsdata;
    std::mutex mutex;
    std::atomic<bool> need_quit{false};
    QDir* m_pDir;
    QStringList m_nameList;
    QString m_oldFirstName;
    QSet<QString> m_withoutThumbnail; // videos reported and still without one
    // The file system the folder was on when chosen: a folder on a card
    // that is no longer mounted is not made again on internal storage.
    dev_t m_dev = 0;
};

#endif
