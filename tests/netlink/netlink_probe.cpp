// Plays the kernel inside the simulated access point: hands one SSID-change
// event datagram to the netlink channel's read callback over a socket pair,
// with the access point's MAC address as the daemon's own. The database and
// the slot-count setting come from the environment.
//
//   netlink_probe <ap mac>
#include <stdio.h>
#include <sys/socket.h>

#include "conf_init.h"
#include "netlink_msgs.h"
#include "platform_utils.h"
#include "wlan.h"

int main(int argc, char **argv)
{
    unsigned char mac[6];
    int sp[2];
    if (argc != 2 || str2mac(argv[1], mac) != 0 || socketpair(AF_UNIX, SOCK_DGRAM, 0, sp) != 0) {
        fprintf(stderr, "usage: netlink_probe <ap mac>\n");
        return 2;
    }
    do_initenv_initialization();
    mac2str(mac, wtp_mac_str);
    const nlmsg::Bytes d = nlmsg::event_message("wlan-1-1", nlmsg::event(OXWE_INFO | OXWE_INFO_SSID));
    if (send(sp[1], d.data(), d.size(), 0) != static_cast<ssize_t>(d.size()))
        return 1;
    capwapWlanStatis_t stat[2] = {};
    wlan_action_hvd(sp[0], 1, stat);
    return 0;
}
