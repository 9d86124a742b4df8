// WPA3 SSID library stand-in: reads the OWE transition entries of the WLAN
// configuration file "<dir>/wlan-<radio>.conf", where dir is
// WPA3_WLAN_CONF_DIR from the environment or /var/halvo/wlan.
#include "wpa3info.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr int kMaxIndex = 99;
constexpr size_t kLineLen = 256;

bool in_range(int v) { return v >= 1 && v <= kMaxIndex; }

// Looks up KEY="VALUE" in the radio's file; the first line whose key is
// exactly key wins. The value is copied without its quotes, truncated to
// cap - 1 characters. False when the file, the key or the quotes are missing.
bool conf_value(int radio, const char *key, char *out, size_t cap)
{
    const char *dir = getenv("WPA3_WLAN_CONF_DIR");
    if (dir == nullptr || dir[0] == '\0')
        dir = "/var/halvo/wlan";
    char path[512];
    int n = snprintf(path, sizeof path, "%s/wlan-%d.conf", dir, radio);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
        return false;
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return false;
    const size_t keylen = strlen(key);
    char line[kLineLen];
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, key, keylen) != 0 || line[keylen] != '=' || line[keylen + 1] != '"')
            continue;
        const char *v = line + keylen + 2;
        const char *end = strchr(v, '"');
        if (end == nullptr)
            break;
        size_t len = static_cast<size_t>(end - v);
        if (len >= cap)
            len = cap - 1;
        memcpy(out, v, len);
        out[len] = '\0';
        found = true;
    }
    fclose(f);
    return found;
}

}  // namespace

extern "C" {

int wpa3_get_oweindex(int radio, int wlan_index)
{
    if (!in_range(radio) || !in_range(wlan_index))
        return 0;
    char key[48];
    snprintf(key, sizeof key, "SSID_%d_OWE_TRANS_INDEX", wlan_index);
    char value[16];
    if (!conf_value(radio, key, value, sizeof value))
        return 0;
    char *end = nullptr;
    long idx = strtol(value, &end, 10);
    if (end == value || *end != '\0' || idx < 1 || idx > kMaxIndex)
        return 0;
    return static_cast<int>(idx);
}

int wpa3_get_new_ssidname(int radio, int wlan_index, char *ssid)
{
    if (ssid == nullptr || !in_range(radio) || !in_range(wlan_index))
        return -1;
    char key[48];
    snprintf(key, sizeof key, "SSID_%d_DISPLAY_NAME", wlan_index);
    char value[64];
    if (!conf_value(radio, key, value, sizeof value))
        return -1;
    memcpy(ssid, value, strlen(value) + 1);
    return 0;
}

int wpa3_owetm_trans_ssidname(int radio, int wlan_index, int owe_index, char *ssid, int len)
{
    if (ssid == nullptr || len <= 0 || !in_range(radio) || !in_range(wlan_index) ||
        !in_range(owe_index))
        return -1;
    char key[48];
    snprintf(key, sizeof key, "SSID_%d_NAME", owe_index);
    char value[64];
    if (!conf_value(radio, key, value, sizeof value))
        return -1;
    snprintf(ssid, static_cast<size_t>(len), "%s", value);
    return 0;
}

}  // extern "C"
