// Hardware address of a network interface, through SIOCGIFHWADDR.

#include "platform_utils.h"

#include <cstring>

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int capwapUtlGetIfMAC(const char *ifname, unsigned char *mac)
{
    if (mac == nullptr)
        return -1;
    memset(mac, 0, 6);
    if (ifname == nullptr)
        return -1;
    size_t len = strnlen(ifname, IFNAMSIZ);
    if (len == 0 || len >= IFNAMSIZ)
        return -1;  // the request holds IFNAMSIZ - 1 characters

    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return -1;
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    memcpy(ifr.ifr_name, ifname, len);
    int rc = ioctl(sock, SIOCGIFHWADDR, &ifr);
    close(sock);
    if (rc < 0)
        return -1;
    memcpy(mac, ifr.ifr_hwaddr.sa_data, 6);
    return 0;
}
