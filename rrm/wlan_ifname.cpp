// Interface names: the two readings of a "<word>-<radio>-<index>" name, and
// the one rule by which a name goes onto a shell command line.
//
// The readings stay two because they answer differently: getInterfaceIdx
// splits at every hyphen and takes each piece's leading number, while the
// recorder and the mesh link lookup scan a number and stop at the first
// character that is not part of it (wlan-1x-3 is radio 1, index 3 to the
// first and radio 1, index 0 to the second).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wlan.h"

int getInterfaceIdx(const char *if_name, int *radioIdx, int *wlanIdx)
{
    char work[17];
    if (if_name == nullptr || if_name[0] == '\0')
        return 0;
    const size_t len = strnlen(if_name, sizeof work);
    if (len == sizeof work)
        return 0;
    memcpy(work, if_name, len + 1);

    char *save = nullptr;
    if (strtok_r(work, "-", &save) == nullptr)
        return 0;
    const char *radio = strtok_r(nullptr, "-", &save);
    const char *wlan = radio != nullptr ? strtok_r(nullptr, "-", &save) : nullptr;
    if (radio == nullptr || wlan == nullptr)
        return 0;
    *radioIdx = atoi(radio);
    *wlanIdx = atoi(wlan);
    return 1;
}

void wlan_ifname_numbers(const char *ifname, int *radio, int *index)
{
    if (ifname != nullptr)
        sscanf(ifname, "%*[^-]-%d-%d", radio, index);
}

namespace {

bool plain_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

}  // namespace

bool wlan_ifname_word(char *out, size_t cap, const char *name, bool in_dquotes)
{
    if (out == nullptr || cap == 0)
        return false;
    out[0] = '\0';
    if (name == nullptr)
        return false;
    bool plain = name[0] != '\0';
    for (const char *p = name; plain && *p != '\0'; ++p)
        plain = plain_char(*p);

    size_t n = 0;
    bool fits = true;
    auto put = [&](const char *s) {
        const size_t len = strlen(s);
        if (!fits || n + len >= cap) {
            fits = false;
            return;
        }
        memcpy(out + n, s, len);
        n += len;
    };
    if (plain) {
        put(name);
    } else {
        // Inside single quotes the shell takes every character as it is but
        // the quote itself, which is closed, escaped and opened again.
        put(in_dquotes ? "\"'" : "'");
        for (const char *p = name; *p != '\0'; ++p) {
            const char one[2] = {*p, '\0'};
            put(*p == '\'' ? "'\\''" : one);
        }
        put(in_dquotes ? "'\"" : "'");
    }
    out[fits ? n : 0] = '\0';
    return fits;
}
