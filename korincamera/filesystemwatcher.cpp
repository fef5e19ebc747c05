#include "filesystemwatcher.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "storagefault.h"

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
        // A ".part" is a thumbnail still being written.
        if (have.contains(entry.fileName() + "_thumbnail.jpg") || QDir::match(pictureFilters, entry.fileName())
            || entry.fileName().endsWith(".part"))
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

bool deviceOf(const QString& path, dev_t* dev)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    *dev = st.st_dev;
    return true;
}

double freeMb()
{
    return double(FileSystemWatcher::getFreeSpace()) * (1.0 / 1048576.0);
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
    if (!enterDir(path)) {
        qWarning() << "cannot enter" << path;
        m_pDir->setPath(QDir::currentPath());
        deviceOf(m_pDir->absolutePath(), &m_dev);
    }
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
        // The watch stays with the folder captures are saved to, or the
        // list would show a folder nothing is saved to.
        if (!enterDir(path)) {
            qWarning() << "cannot enter" << path << "- the save directory stays" << m_pDir->absolutePath();
            return;
        }
    }
    updateNameList();
}

bool FileSystemWatcher::enterDir(const QString& path)
{
    if (!QDir::setCurrent(path))
        return false;
    m_pDir->setPath(QDir::currentPath());
    deviceOf(m_pDir->absolutePath(), &m_dev);
    return true;
}

bool FileSystemWatcher::folderInPlace() const
{
    dev_t dev = 0;
    return deviceOf(m_pDir->absolutePath(), &dev) && dev == m_dev;
}

bool FileSystemWatcher::remakeFolder()
{
    const QString dir = m_pDir->absolutePath();
    dev_t parentDev = 0;
    if (QFileInfo::exists(dir) || !deviceOf(QFileInfo(dir).path(), &parentDev) || parentDev != m_dev)
        return false;
    if (!QDir().mkdir(dir))
        return false;
    qWarning() << "the save folder" << dir << "was made again";
    QDir::setCurrent(dir);
    return true;
}

QString FileSystemWatcher::getCurrentDir()
{
    std::lock_guard<std::mutex> lock(mutex);
    return m_pDir->absolutePath();
}

QString FileSystemWatcher::checkBeforeCapture(double* freeMbOut)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!folderInPlace() && !remakeFolder())
            return storageReason(ENOENT);
    }
    return queryFreeSpace(freeMbOut);
}

QString FileSystemWatcher::queryFreeSpace(double* freeMbOut)
{
    QByteArray path;
    {
        std::lock_guard<std::mutex> lock(mutex);
        path = QFile::encodeName(m_pDir->absolutePath());
    }
    const int err = queryFigures(path);
    if (err != 0)
        return storageReason(err);
    *freeMbOut = freeMb();
    return QString();
}

int FileSystemWatcher::queryFigures(const QByteArray& path)
{
    struct statvfs64 figures;
    memset(&figures, 0, sizeof figures);
    errno = 0;
    if (s_query.load()(path.constData(), &figures) != 0)
        return errno ? errno : EIO;
    std::lock_guard<std::mutex> lock(s_fsLock);
    m_fsdata = figures;
    return 0;
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
        QString dir;
        {
            std::lock_guard<std::mutex> lock(mutex);
            dir = m_pDir->absolutePath();
            if (folderInPlace()) {
                path = QFile::encodeName(dir);
                // Back after being removed: the process follows it again.
                if (QDir::currentPath() != dir)
                    QDir::setCurrent(dir);
            }
        }
        if (path.isEmpty()) {
            qWarning("file path not found");
            emit folderMissing(dir);
            if (!sleepUnlessQuit(3000))
                break;
            continue;
        }
        const int err = queryFigures(path);
        if (err != 0) {
            qWarning("get file system info failed!");
            qWarning("%s", strerror(err));
        }
        const double mb = freeMb();
        if (mb < kLowStorageMb)
            emit storageNotEnough(mb);
        if (!sleepUnlessQuit(2000))
            break;
        updateNameList();
    }
    // The loop's last word: whoever takes the lock next sees it finished.
    std::lock_guard<std::mutex> lock(mutex);
}
