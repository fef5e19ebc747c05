#include "filesystemwatcher.h"

#include <QDateTime>
#include <QDebug>
#include <cerrno>
#include <cstring>

struct statvfs64 FileSystemWatcher::m_fsdata;

namespace {
std::mutex s_fsLock; // guards m_fsdata
int realSpaceQuery(const char* path, struct statvfs64* out)
{
    return statvfs64(path, out);
}
std::atomic<FileSystemWatcher::SpaceQuery> s_query{realSpaceQuery};
const double kLowStorageMb = 50.0;

struct Recording {
    QString video;
    bool multifiles;
};

// Recordings in dir whose thumbnail is not among pictures: dedavevuz_* files
// that are not pictures themselves, and split recordings' folders, each with
// something written. A folder's picture comes from its first segment.
QVector<Recording> recordingsWithoutThumbnail(const QDir& dir, const QStringList& pictures)
{
    const QSet<QString> have(pictures.begin(), pictures.end());
    QStringList pictureFilters;
    FileSystemWatcher::setFilterList(pictureFilters);
    QVector<Recording> out;
    const QFileInfoList entries =
        dir.entryInfoList(QStringList() << "dedavevuz_*", QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (have.contains(entry.fileName() + "_thumbnail.jpg") || QDir::match(pictureFilters, entry.fileName()))
            continue;
        if (entry.isDir()) {
            const QFileInfoList ts =
                QDir(entry.filePath()).entryInfoList(QStringList() << "*.ts", QDir::Files, QDir::Time);
            if (!ts.isEmpty() && ts.last().size() > 0)
                out.append({ts.last().absoluteFilePath(), true});
        } else if (entry.size() > 0) {
            out.append({entry.absoluteFilePath(), false});
        }
    }
    return out;
}
}

FileSystemWatcher::FileSystemWatcher(QString path, QObject* parent)
    : QThread(parent)
{
    {
        std::lock_guard<std::mutex> lock(s_fsLock);
        memset(&m_fsdata, 0, sizeof m_fsdata);
    }
    std::lock_guard<std::mutex> lock(mutex);
    m_pDir = new QDir();
    if (!QDir::setCurrent(path))
        qWarning() << "cannot enter" << path;
    m_pDir->setPath(QDir::currentPath());
}

FileSystemWatcher::~FileSystemWatcher()
{
    std::lock_guard<std::mutex> lock(mutex);
    delete m_pDir;
    m_pDir = nullptr;
}

void FileSystemWatcher::setSpaceQuery(SpaceQuery query)
{
    s_query.store(query ? query : realSpaceQuery);
}

void FileSystemWatcher::setFilterList(QStringList& filters)
{
    filters = QStringList() << "*.jpg" << "*.png";
}

void FileSystemWatcher::needQuit()
{
    need_quit.store(true);
}

bool FileSystemWatcher::sleepUnlessQuit(int ms)
{
    for (int waited = 0; waited < ms && !need_quit.load(); waited += 100)
        msleep(100);
    return !need_quit.load();
}

void FileSystemWatcher::changeDir(QString path)
{
    qDebug() << "set path: " << path;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Captures are named from the current directory: the watch stays
        // with it, or the list would show a folder nothing is saved to.
        if (!QDir::setCurrent(path)) {
            qWarning() << "cannot enter" << path << "- the save directory stays" << QDir::currentPath();
            return;
        }
        m_pDir->setPath(QDir::currentPath());
    }
    updateNameList();
}

QString FileSystemWatcher::getCurrentDir()
{
    std::lock_guard<std::mutex> lock(mutex);
    return QDir::currentPath();
}

QStringList FileSystemWatcher::getNameList()
{
    std::lock_guard<std::mutex> lock(mutex);
    return m_nameList;
}

void FileSystemWatcher::updateNameList()
{
    QString changedTo;
    bool changed = false;
    QVector<Recording> newlyMissing;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!m_pDir->exists())
            return;
        m_oldFirstName = m_nameList.isEmpty() ? QString() : m_nameList.first();
        QStringList filters;
        setFilterList(filters);
        m_pDir->refresh();
        m_nameList = m_pDir->entryList(filters, QDir::Files | QDir::NoDotAndDotDot, QDir::Time);
        if (m_nameList.isEmpty()) {
            changed = !m_oldFirstName.isEmpty();
        } else if (m_nameList.first() != m_oldFirstName) {
            changed = true;
            changedTo = m_nameList.first();
        }
        QSet<QString> missing;
        for (const Recording& r : recordingsWithoutThumbnail(*m_pDir, m_nameList)) {
            missing.insert(r.video);
            if (!m_withoutThumbnail.contains(r.video))
                newlyMissing.append(r);
        }
        m_withoutThumbnail = missing;
    }
    if (changed)
        emit nameListFirstChanged(changedTo);
    for (const Recording& r : newlyMissing)
        emit thumbnailMissing(r.video, r.multifiles);
}

quint64 FileSystemWatcher::getFreeSpace()
{
    std::lock_guard<std::mutex> lock(s_fsLock);
    return quint64(m_fsdata.f_bavail) * quint64(m_fsdata.f_frsize);
}

quint64 FileSystemWatcher::getUsedSpace()
{
    std::lock_guard<std::mutex> lock(s_fsLock);
    return quint64(m_fsdata.f_blocks - m_fsdata.f_bfree) * quint64(m_fsdata.f_frsize);
}

void FileSystemWatcher::run()
{
    updateNameList();
    while (!need_quit.load()) {
        QByteArray path;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (m_pDir->exists())
                path = m_pDir->absolutePath().toUtf8();
        }
        if (path.isEmpty()) {
            qWarning("file path not found");
            if (!sleepUnlessQuit(3000))
                break;
            continue;
        }
        struct statvfs64 figures;
        memset(&figures, 0, sizeof figures);
        errno = 0;
        if (s_query.load()(path.constData(), &figures) != 0) {
            const int err = errno;
            qWarning("get file system info failed!");
            qWarning("%s", strerror(err));
        } else {
            std::lock_guard<std::mutex> lock(s_fsLock);
            m_fsdata = figures;
        }
        const double freeMb = double(getFreeSpace()) * (1.0 / 1048576.0);
        if (freeMb < kLowStorageMb)
            emit storageNotEnough(freeMb);
        if (!sleepUnlessQuit(2000))
            break;
        updateNameList();
    }
    // The loop's last word: whoever takes the lock next sees it finished.
    std::lock_guard<std::mutex> lock(mutex);
}
