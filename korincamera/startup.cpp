#include "startup.h"

#include <QDebug>
#include <QDir>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <glib.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

QStringList findCameras(const QString& devDir, int* firstCamera)
{
    QStringList cameras;
    int lowest = -1;
    QDir dev(devDir);
    if (!dev.exists())
        qWarning() << "cannot list" << devDir;
    const QStringList entries = dev.entryList(QDir::System, QDir::Unsorted);
    const QRegularExpression pattern("^video([0-9]$|([1][0-5])$)");
    for (const QString& name : entries) {
        if (!pattern.match(name).hasMatch())
            continue;
        const QString path = devDir + "/" + name;
        // Non-blocking: a node that waits for a peer must not hold up start-up.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            continue;
        ::close(fd);
        // The engine and the settings read a camera id as N of videoN.
        const int n = name.mid(5).toInt();
        if (lowest < 0 || n < lowest)
            lowest = n;
        qDebug() << "A camera add to dev list: " << path;
        cameras.append(path);
    }
    if (firstCamera)
        *firstCamera = lowest;
    return cameras;
}

void completeEnvironment()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains("DISPLAY"))
        g_setenv("DISPLAY", ":0", TRUE);
    if (!env.contains("COLORKEY"))
        g_setenv("COLORKEY", "00010203", TRUE);
    if (!env.contains("GPU_VIV_DISABLE_SUPERTILED_TEXTURE"))
        g_setenv("GPU_VIV_DISABLE_SUPERTILED_TEXTURE", "1", TRUE);
}

// Each recording's encoder threads and each thumbnail's decoder threads
// would otherwise leave freed frames behind in up to 8 malloc arenas per
// core: over ten 1080p recordings the camera grew by about 180 MB; with two
// arenas it stays flat.
void limitMallocArenas()
{
    if (mallopt(M_ARENA_MAX, 2) != 1)
        qWarning("cannot limit malloc's arenas");
}
