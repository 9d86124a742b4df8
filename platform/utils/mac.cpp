// MAC address texts.

#include "platform_utils.h"

#include <cstdio>
#include <cstring>

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Six groups of one or two hex digits, one separator (':' or '-') throughout,
// nothing before or after.
bool parse(const char *str, unsigned char out[6])
{
    if (str == nullptr)
        return false;
    const char *p = str;
    char sep = 0;
    for (int i = 0; i < 6; ++i) {
        int hi = hex_value(*p);
        if (hi < 0)
            return false;
        ++p;
        int v = hi;
        int lo = hex_value(*p);
        if (lo >= 0) {
            v = hi * 16 + lo;
            ++p;
        }
        out[i] = static_cast<unsigned char>(v);
        if (i == 5)
            break;
        if (sep == 0 && (*p == ':' || *p == '-'))
            sep = *p;
        if (*p != sep || sep == 0)
            return false;
        ++p;
    }
    return *p == '\0';
}

}  // namespace

extern "C" int str2mac(const char *str, unsigned char *mac)
{
    unsigned char tmp[6];
    if (mac == nullptr || !parse(str, tmp))
        return -1;
    memcpy(mac, tmp, sizeof tmp);
    return 0;
}

extern "C" char *mac2str(const unsigned char *mac, char *str)
{
    if (str == nullptr)
        return str;
    static const unsigned char zero[6] = {0, 0, 0, 0, 0, 0};
    const unsigned char *m = mac ? mac : zero;
    snprintf(str, MAC_STR_LEN, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
             m[5]);
    return str;
}

extern "C" int isMac(const char *str)
{
    unsigned char tmp[6];
    return parse(str, tmp) ? 1 : 0;
}
