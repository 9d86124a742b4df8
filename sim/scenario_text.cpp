// Text forms of the scenario's values: MAC and IPv4 addresses, interface
// names, step times and the clock, numbers.
#include "scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sim {

bool parse_long(const std::string &s, long lo, long hi, long *out)
{
    if (s.empty() || s.size() > 20)
        return false;
    size_t i = (s[0] == '-') ? 1 : 0;
    if (i == s.size())
        return false;
    for (size_t k = i; k < s.size(); ++k)
        if (!isdigit(static_cast<unsigned char>(s[k])))
            return false;
    errno = 0;
    long v = strtol(s.c_str(), nullptr, 10);
    if (errno != 0 || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// Radio number of an interface name such as wlan-2-1 or wds-1-9; 0 when none.
int radio_of(const std::string &ifname)
{
    int r = 0, w = 0;
    char word[16];
    if (sscanf(ifname.c_str(), "%15[^-]-%d-%d", word, &r, &w) == 3)
        return r;
    return 0;
}

Vap *Model::find_vap(const std::string &name)
{
    for (Vap &v : vaps)
        if (v.name == name)
            return &v;
    return nullptr;
}

Station *Model::find_station(const Mac &mac)
{
    for (Station &s : stations)
        if (s.mac == mac)
            return &s;
    return nullptr;
}

bool parse_mac(const std::string &s, Mac *out)
{
    if (s.size() != 17)
        return false;
    Mac m{};
    for (int i = 0; i < 6; ++i) {
        const char *p = s.c_str() + 3 * i;
        if (!isxdigit(static_cast<unsigned char>(p[0])) ||
            !isxdigit(static_cast<unsigned char>(p[1])) || (i < 5 && p[2] != ':'))
            return false;
        m[i] = static_cast<uint8_t>(strtoul(std::string(p, 2).c_str(), nullptr, 16));
    }
    *out = m;
    return true;
}

std::string mac_text(const Mac &m)
{
    char b[18];
    snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}

bool valid_ifname(const std::string &s)
{
    if (s.empty() || s.size() > 15)
        return false;
    for (unsigned char c : s)
        if (!(isalnum(c) || c == '-' || c == '_' || c == '.'))
            return false;
    return true;
}

bool parse_ipv4(const std::string &s, std::array<uint8_t, 4> *out)
{
    std::array<uint8_t, 4> ip{};
    size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = s.find('.', pos);
        if (i == 3)
            end = s.size();
        if (end == std::string::npos)
            return false;
        std::string part = s.substr(pos, end - pos);
        long v = 0;
        if (part.empty() || part.size() > 3 || part[0] == '-' || !parse_long(part, 0, 255, &v))
            return false;
        ip[i] = static_cast<uint8_t>(v);
        pos = end + 1;
    }
    *out = ip;
    return true;
}

bool parse_time(const std::string &s, long *seconds)
{
    long total = 0;
    int parts = 0;
    size_t pos = 0;
    while (true) {
        size_t end = s.find(':', pos);
        std::string part = s.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        long v = 0;
        if (part.empty() || part[0] == '-' || !parse_long(part, 0, 1000000, &v))
            return false;
        if (parts > 0 && (v > 59 || part.size() != 2))
            return false;
        total = total * 60 + v;
        if (++parts > 3)
            return false;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    *seconds = total;
    return true;
}

bool parse_clock(const std::string &s, long long *epoch)
{
    long v = 0;
    if (parse_long(s, 0, 4102444800L, &v)) {  // up to the year 2100
        *epoch = v;
        return true;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char tail = 0;
    if (s.size() != 19 ||
        sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6)
        return false;
    if (y < 1970 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        se > 59)
        return false;
    // days from the civil date (proleptic Gregorian), without the C library's time zone
    int yy = y - (mo <= 2);
    long era = yy / 400;
    long yoe = yy - era * 400;
    long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = era * 146097LL + doe - 719468;
    *epoch = days * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

std::string shell_quote(const std::string &s)
{
    std::string r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r.push_back(c);
    }
    return r + "'";
}

}  // namespace sim
