// Simulated free-space queries for the storage watcher
// (FileSystemWatcher::setSpaceQuery).
#ifndef SPACEQUERY_H
#define SPACEQUERY_H

#include <cstring>
#include <sys/statvfs.h>

// freeFragments of 4 KiB free; the block size is deliberately different.
template <unsigned long long freeFragments>
int spaceLeft(const char*, struct statvfs64* out)
{
    memset(out, 0, sizeof *out);
    out->f_bsize = 1 << 20;
    out->f_frsize = 4096;
    out->f_blocks = 1000000;
    out->f_bfree = freeFragments + 440;
    out->f_bavail = freeFragments;
    return 0;
}
const auto nearlyFull = spaceLeft<2560>; // 10 MiB
const auto roomy = spaceLeft<1000000>;   // about 3.8 GiB

// The real figures with almost 50 MB more: low only once really full.
inline int realPlusAlmost50Mb(const char* path, struct statvfs64* out)
{
    if (statvfs64(path, out) != 0)
        return -1;
    out->f_bavail += ((50ull << 20) - 4096) / out->f_frsize;
    return 0;
}

#endif
