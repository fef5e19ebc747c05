#include "utils.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int ipAddr::getLocalBroadcastAddr(QString& addr)
{
    addr.clear();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    struct ifreq req;
    memset(&req, 0, sizeof req);
    strncpy(req.ifr_name, "eth0", IFNAMSIZ - 1);
    const int r = ioctl(fd, SIOCGIFBRDADDR, &req);
    close(fd);
    if (r < 0)
        return r;
    const struct sockaddr_in* in = reinterpret_cast<const struct sockaddr_in*>(&req.ifr_broadaddr);
    addr = QString::fromLatin1(inet_ntoa(in->sin_addr));
    return 0;
}
