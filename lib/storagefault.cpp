#include "storagefault.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
// Below this the file system counts as full: a recording could not even be
// finalised in it.
const unsigned long long kFullBytes = 1024 * 1024;
}

QString storageReason(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("the folder is missing");
    case EROFS:
        return QStringLiteral("the folder is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    default:
        return QStringLiteral("write error");
    }
}

QString storageProblem(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st;
    if (stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return storageReason(ENOENT);
    if (access(path.constData(), W_OK | X_OK) != 0)
        return storageReason(errno);
    struct statvfs64 fs;
    if (statvfs64(path.constData(), &fs) == 0 && (unsigned long long)fs.f_bavail * fs.f_frsize < kFullBytes)
        return storageReason(ENOSPC);
    return QString();
}

QString cannotSaveText(const QString& folder, const QString& reason)
{
    return QString("Cannot save to %1: %2").arg(folder, reason);
}
