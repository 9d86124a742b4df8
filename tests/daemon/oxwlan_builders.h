// Event records as the producers fill them.
#ifndef TESTS_DAEMON_OXWLAN_BUILDERS_H
#define TESTS_DAEMON_OXWLAN_BUILDERS_H

#include <string.h>

#include "wlan_event.h"

inline oxwlan_req_data sta_record(const unsigned char (&mac)[6], const char *security = "NONE")
{
    oxwlan_req_data req;
    memset(&req, 0, sizeof req);
    memcpy(req.u.sta.macaddr, mac, 6);
    size_t len = strlen(security);
    memcpy(req.u.sta.security, security,
           len < sizeof req.u.sta.security ? len : sizeof req.u.sta.security);
    return req;
}

#endif
