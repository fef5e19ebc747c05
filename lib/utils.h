#ifndef KORIN_UTILS_H
#define KORIN_UTILS_H

#include <QString>

// Addresses of this machine's network interfaces.
class ipAddr
{
public:
    // The IPv4 broadcast address of "eth0" as dotted text in addr. Returns 0,
    // -1 when no socket can be opened, or the negative ioctl result (addr is
    // then left empty).
    static int getLocalBroadcastAddr(QString& addr);
};

#endif
