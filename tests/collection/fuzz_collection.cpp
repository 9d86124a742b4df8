// Fuzz target: the readers of shell output and the walk over a database
// list reply, fed arbitrary bytes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "wlan.h"
#include "wlan_hvd_cmd.h"
#include "wlan_hvd_parse.h"

namespace {

void lines(const std::string &text, int radio)
{
    staInfo_t s{};
    capwapWlanStatis_t r{};
    hvd_netdev_values v{};
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, std::min<size_t>(254, nl == std::string::npos ? nl : nl - pos + 1));
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        hvd_parse_sta_line(buf.data(), &s);
        hvd_wlan_status_line(buf.data(), radio, &r);
        hvd_netdev_line(buf.data(), radio, &v);
        bool err = false;
        std::vector<char> a(buf), b(buf);
        hvd_apply_wlan_line(a.data(), &s, &err);
        hvd_apply_wds_line(b.data(), &s, &err);
        char word[kHvdWordMax];
        wlan_ifname_word(word, sizeof word, buf.data(), nl % 2 == 0);
        hvd_mac_ok(buf.data());
        if (nl == std::string::npos)
            break;
        pos = nl + 1;
    }
    hvd_err_rate(r.rxFrameCnt, static_cast<float>(v.rx_errs));
    // Every text field stays terminated inside its bounds.
    if (memchr(s.txRate, 0, sizeof s.txRate) == nullptr || memchr(s.bandcap, 0, sizeof s.bandcap) == nullptr ||
        memchr(s.dot11Features, 0, sizeof s.dot11Features) == nullptr || memchr(s.ssid, 0, sizeof s.ssid) == nullptr ||
        memchr(s.security, 0, sizeof s.security) == nullptr)
        abort();
}

void listing(const uint8_t *data, size_t size)
{
    if (size == 0)
        return;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (f == nullptr)
        return;
    staInfo_t s{};
    hvd_read_sta_listing(f, "aa:bb:cc:dd:ee:01", &s);
    fclose(f);
}

void list_reply(const uint8_t *data, size_t size)
{
    // An exact-size heap copy, so that any read past the reply is caught.
    char *buf = static_cast<char *>(malloc(size ? size : 1));
    memcpy(buf, data, size);
    const char *end = buf + size;
    for (char *s = hvd_list_first(buf, end); s != nullptr; s = hvd_list_next(s, end))
        (void)strlen(s);
    free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int radio = data[0] % 4;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    lines(text, radio);
    listing(data + 1, size - 1);
    list_reply(data + 1, size - 1);
    return 0;
}
