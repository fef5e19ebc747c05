// Simulated free-space queries for the storage watcher
// (FileSystemWatcher::setSpaceQuery).
#ifndef SPACEQUERY_H
#define SPACEQUERY_H

#include <cstring>
#include <sys/statvfs.h>

// 10 MiB free in 4 KiB fragments; the block size is deliberately different.
inline int nearlyFull(const char*, struct statvfs64* out)
{
    memset(out, 0, sizeof *out);
    out->f_bsize = 1 << 20;
    out->f_frsize = 4096;
    out->f_blocks = 1000000;
    out->f_bfree = 3000;
    out->f_bavail = 2560;
    return 0;
}

inline int roomy(const char*, struct statvfs64* out)
{
    nearlyFull(nullptr, out);
    out->f_bavail = 1000000; // about 3.8 GiB
    return 0;
}

// The real figures with almost 50 MB more free: low storage is reported
// only once the file system is nearly or really full.
inline int realPlusAlmost50Mb(const char* path, struct statvfs64* out)
{
    if (statvfs64(path, out) != 0)
        return -1;
    out->f_bavail += ((50ull << 20) - 4096) / out->f_frsize;
    return 0;
}

#endif
