// Security mode lookup: settles a station's "WPA3-Personal" against the
// WLAN configuration file of its radio, which may say the VAP's security
// profile really runs WPA2.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "seam.h"
#include "wlan.h"

namespace {

constexpr size_t kCmdLen = 128;
constexpr size_t kLineLen = 128;

// A configuration line is KEY="VALUE" and a line end. The value is what
// starts two characters after the first '=' (past the opening quote), less
// its last two characters (closing quote, line end). False when the line has
// no '=' or too little after it to hold a value.
bool extract_value(const char *line, char *out, size_t cap)
{
    const char *eq = strchr(line, '=');
    if (eq == nullptr || eq[1] == '\0')
        return false;
    const char *value = eq + 2;
    size_t len = strlen(value);
    if (len < 2)
        return false;
    len -= 2;
    if (len >= cap)
        len = cap - 1;
    memcpy(out, value, len);
    out[len] = '\0';
    return true;
}

// Runs command and extracts the value of the first line it prints; false
// when it could not be started. *found tells whether a value came.
bool first_value(const char *command, char *value, size_t cap, bool *found)
{
    *found = false;
    FILE *pipe = rrm_cmd_open(command, "r");
    if (pipe == nullptr)
        return false;
    char line[kLineLen];
    if (fgets(line, sizeof line, pipe) != nullptr)
        *found = extract_value(line, value, cap);
    rrm_cmd_close(pipe);
    return true;
}

}  // namespace

void resolveWpa3Security(int radio, int wlan_index, char *security)
{
    int security_profile_idx = 0;
    char cmd[kCmdLen];
    char value[kLineLen];
    bool found = false;

    snprintf(cmd, sizeof cmd, "cat /var/halvo/wlan/wlan-%d.conf | grep SSID_%d_SEC_PROFILE", radio,
             wlan_index);
    if (first_value(cmd, value, sizeof value, &found) && found)
        security_profile_idx = atoi(value);

    snprintf(cmd, sizeof cmd, "cat /var/halvo/wlan/wlan-%d.conf | grep SECURITY_%d_MODE", radio,
             security_profile_idx);
    if (!first_value(cmd, value, sizeof value, &found) || !found)
        return;
    if (strcmp(value, "wpa3") == 0)
        return;
    if (strcmp(value, "wpa2") == 0)
        memcpy(security, "WPA2-PSK", sizeof "WPA2-PSK");
}
