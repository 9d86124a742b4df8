#include "wlan_hvd_parse.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "wlan_hvd_cmd.h"

namespace {

// Copies src into a field of cap bytes, cut to fit, always terminated.
void copy_field(char *dst, size_t cap, const char *src)
{
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

// The next blank-separated word of *p: its start and length; false at the
// end of the text.
bool next_word(const char **p, const char **word, size_t *len)
{
    const char *s = *p;
    while (*s != '\0' && isspace(static_cast<unsigned char>(*s)))
        ++s;
    if (*s == '\0') {
        *p = s;
        return false;
    }
    const char *e = s;
    while (*e != '\0' && !isspace(static_cast<unsigned char>(*e)))
        ++e;
    *word = s;
    *len = static_cast<size_t>(e - s);
    *p = e;
    return true;
}

// A word's leading number as atoi reads it (0 when there is none), its
// value wrapped to 32 bits.
uint32_t word_atoi(const char *w, size_t len)
{
    char tmp[32];
    const size_t n = len < sizeof tmp ? len : sizeof tmp - 1;
    memcpy(tmp, w, n);
    tmp[n] = '\0';
    return static_cast<uint32_t>(strtoll(tmp, nullptr, 10));
}

// Number parsing as the "%d"/"%llu" directives of a scanf over the running
// text: blanks skipped, then a number; false when none.
bool scan_ll(const char **p, long long *out)
{
    char *end = nullptr;
    long long v = strtoll(*p, &end, 10);
    if (end == *p)
        return false;
    *out = v;
    *p = end;
    return true;
}

bool scan_ull(const char **p, unsigned long long *out)
{
    char *end = nullptr;
    unsigned long long v = strtoull(*p, &end, 10);
    if (end == *p)
        return false;
    *out = v;
    *p = end;
    return true;
}

int wrap32(long long v) { return static_cast<int>(static_cast<unsigned int>(v)); }

void cut_line_end(char *line) { line[strcspn(line, "\r\n")] = '\0'; }

bool has_prefix(const char *s, const char *prefix) { return strncmp(s, prefix, strlen(prefix)) == 0; }

// One row of the configuration prefix table.
struct Row {
    const char *prefix;
    const char *excluded;  // null: none
    size_t field_offset;
    size_t field_size;
};

#define ROW(prefix, excluded, field) \
    Row { prefix, excluded, offsetof(staInfo_t, field), sizeof(((staInfo_t *)nullptr)->field) }

// Applies the first row of rows whose prefix the type starts with (and
// whose excluded prefix it does not).
void apply_first(const Row *rows, size_t n, const char *type, const char *value, staInfo_t *entry)
{
    for (size_t i = 0; i < n; ++i) {
        if (!has_prefix(type, rows[i].prefix))
            continue;
        if (rows[i].excluded != nullptr && has_prefix(type, rows[i].excluded))
            continue;
        char *field = reinterpret_cast<char *>(entry) + rows[i].field_offset;
        copy_field(field, rows[i].field_size, value);
        return;
    }
}

// Splits a configuration line at its first ":"; the value is null when
// there is none.
void split_config(char *line, const char **type, char **value)
{
    cut_line_end(line);
    *type = line;
    char *colon = strchr(line, ':');
    if (colon == nullptr) {
        *value = nullptr;
        return;
    }
    *colon = '\0';
    *value = colon + 1;
}

constexpr char kParseError[] = " Parse error";

}  // namespace

int hvd_parse_sta_line(const char *line, staInfo_t *entry)
{
    // The line as read into 256 bytes, so that no word of it is longer than
    // 255: each text column is read whole, then cut to its field.
    char text[256];
    copy_field(text, sizeof text, line);
    int channel = 0, rssi = 0;
    unsigned long long tx = 0, rx = 0;
    char tx_rate[256], rx_rate[256], bandcap[256], features[256];
    const int n = sscanf(text, "%*s %*s %d %255s %255s %d %*s %*s %llu %llu %255s %*s 11%255s", &channel, tx_rate,
                         rx_rate, &rssi, &tx, &rx, bandcap, features);
    // The fields in the order read; those behind the first column that
    // could not be read keep their values.
    switch (n) {
    case 8:
        copy_field(entry->dot11Features, sizeof entry->dot11Features, features);
        [[fallthrough]];
    case 7:
        copy_field(entry->bandcap, sizeof entry->bandcap, bandcap);
        [[fallthrough]];
    case 6:
        entry->rx = rx;
        [[fallthrough]];
    case 5:
        entry->tx = tx;
        [[fallthrough]];
    case 4:
        entry->sigRSSI = rssi;
        [[fallthrough]];
    case 3:
        copy_field(entry->rxRate, sizeof entry->rxRate, rx_rate);
        [[fallthrough]];
    case 2:
        copy_field(entry->txRate, sizeof entry->txRate, tx_rate);
        [[fallthrough]];
    case 1:
        entry->channel = channel;
        return n;
    default:
        return 0;
    }
}

int hvd_read_sta_listing(FILE *f, const char *mac_str, staInfo_t *entry)
{
    char buf[256];
    if (fgets(buf, sizeof buf, f) == nullptr)  // header
        return 0;
    for (;;) {
        if (feof(f))
            return 0;
        if (fgets(buf, sizeof buf, f) == nullptr || feof(f))
            return 0;
        char mac[32];
        if (sscanf(buf, "%31s", mac) != 1)
            continue;
        if (strcasecmp(mac, mac_str) == 0) {
            hvd_parse_sta_line(buf, entry);
            return 1;
        }
    }
}

char *HvdText::gets(char *buf, size_t cap)
{
    if (cap == 0)
        return nullptr;
    const size_t want = cap - 1;
    size_t n = std::min(want, rest_.size());
    bool line_end = false;
    if (const void *nl = memchr(rest_.data(), '\n', n)) {
        n = static_cast<size_t>(static_cast<const char *>(nl) - rest_.data()) + 1;
        line_end = true;
    }
    memcpy(buf, rest_.data(), n);
    rest_.remove_prefix(n);
    // A read that wanted more than was left has met the end.
    if (n < want && !line_end)
        eof_ = true;
    if (n == 0 && want > 0)
        return nullptr;
    buf[n] = '\0';
    return buf;
}

namespace {

// Compares two words as strcasecmp does.
int compare_lowered(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = tolower(static_cast<unsigned char>(a[i])), y = tolower(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x - y;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

void HvdStaIndex::build(std::string text)
{
    text_ = std::move(text);
    keys_.clear();
    keys_.reserve(static_cast<size_t>(std::count(text_.begin(), text_.end(), '\n')) + 1);
    // The walk of hvd_read_sta_listing, through to the end.
    HvdText in(text_);
    char buf[256];
    if (in.gets(buf, sizeof buf) == nullptr)  // header
        return;
    for (;;) {
        if (in.eof())
            break;
        const size_t start = text_.size() - in.left();
        if (in.gets(buf, sizeof buf) == nullptr || in.eof())
            break;
        // The first word as "%31s" reads it: after blanks, at most 31 bytes.
        char word[32];
        int skip = 0;
        if (start > UINT32_MAX || sscanf(buf, " %n%31s", &skip, word) != 1)
            continue;
        Key k;
        k.at = static_cast<uint32_t>(start);
        k.len = static_cast<uint8_t>(text_.size() - in.left() - start);
        k.word = static_cast<uint8_t>(skip);
        k.wlen = static_cast<uint8_t>(strlen(word));
        keys_.push_back(k);
    }
    // The first line of each word wins, as the walk stops there.
    auto before = [this](const Key &a, const Key &b) { return compare_lowered(word_of(a), word_of(b)) < 0; };
    std::stable_sort(keys_.begin(), keys_.end(), before);
    keys_.erase(std::unique(keys_.begin(), keys_.end(),
                            [this](const Key &a, const Key &b) {
                                return compare_lowered(word_of(a), word_of(b)) == 0;
                            }),
                keys_.end());
}

bool HvdStaIndex::find(const char *mac_str, char (&line)[256]) const
{
    const std::string_view want(mac_str);
    auto it = std::lower_bound(keys_.begin(), keys_.end(), want, [this](const Key &k, std::string_view w) {
        return compare_lowered(word_of(k), w) < 0;
    });
    if (it == keys_.end() || compare_lowered(word_of(*it), want) != 0)
        return false;
    memcpy(line, text_.data() + it->at, it->len);
    line[it->len] = '\0';
    return true;
}

namespace {

// The configuration prefix tables, one per source. A line's type is the
// text before its first ":", its value the rest (a VAP's without its first
// character, the blank after the ":"). In each of a source's two groups
// (SSID or security text; profile names) the first row whose prefix the
// type begins with, and whose excluded prefix it does not, takes the value,
// cut to its field. One rule for every row of both sources: a line whose
// value is empty ("  WDS_profile:", "  SSID_profile:" or "  SSID_profile: ")
// changes nothing, so a field keeps what an earlier line gave it.
struct ConfigSource {
    Row texts[2];
    Row profiles[2];
    bool drops_first;
};

const ConfigSource kMeshLinkDetail = {
    {ROW("  WDS_SSID", "  WDS_profile", ssid), ROW("  Security", "  Security_profile", security)},
    {ROW("  WDS_profile", nullptr, ssidProfileName), ROW("  Security_profile", nullptr, secProfileName)},
    false,
};

const ConfigSource kVapConfig = {
    {ROW("  SSID", "  SSID_profile", ssid), ROW("  Security", "  Security_profile", security)},
    {ROW("  SSID_profile", nullptr, ssidProfileName), ROW("  Security_profile", nullptr, secProfileName)},
    true,
};

void apply_config_line(const ConfigSource &src, char *line, staInfo_t *entry, bool *parse_error)
{
    const char *type = nullptr;
    char *value = nullptr;
    split_config(line, &type, &value);
    if (value == nullptr)
        return;
    if (src.drops_first && value[0] != '\0')
        ++value;
    if (strncmp(value, kParseError, strlen(kParseError)) == 0)
        *parse_error = true;
    if (value[0] == '\0')
        return;
    apply_first(src.texts, 2, type, value, entry);
    apply_first(src.profiles, 2, type, value, entry);
}

}  // namespace

void hvd_apply_wds_line(char *line, staInfo_t *entry, bool *parse_error)
{
    apply_config_line(kMeshLinkDetail, line, entry, parse_error);
}

void hvd_apply_wlan_line(char *line, staInfo_t *entry, bool *parse_error)
{
    apply_config_line(kVapConfig, line, entry, parse_error);
}

bool hvd_wlan_status_line(const char *line, int radio_num, capwapWlanStatis_t *ptr)
{
    char prefix[32];
    if (!hvd_format(prefix, sizeof prefix, "wlan-%d-", radio_num))
        return false;
    const char *p = line;
    const char *w = nullptr;
    size_t len = 0;
    if (!next_word(&p, &w, &len))  // first word, not used
        return false;
    if (!next_word(&p, &w, &len))
        return false;
    size_t plen = strlen(prefix);
    if (len < plen || strncmp(w, prefix, plen) != 0)
        return false;
    if (!next_word(&p, &w, &len))
        return true;
    if (w[0] == 'U')
        ptr->activate = 1;
    // Fourth to eighth words; the sixth is not used.
    if (!next_word(&p, &w, &len))
        return true;
    ptr->txFrameCnt += word_atoi(w, len);
    if (!next_word(&p, &w, &len))
        return true;
    ptr->rxFrameCnt += word_atoi(w, len);
    if (!next_word(&p, &w, &len))
        return true;
    if (!next_word(&p, &w, &len))
        return true;
    ptr->txBytesPerSec += word_atoi(w, len);
    if (!next_word(&p, &w, &len))
        return true;
    ptr->rxBytesPerSec += word_atoi(w, len);
    return true;
}

bool hvd_netdev_line(const char *line, int radio_num, hvd_netdev_values *v)
{
    char prefix[32];
    if (!hvd_format(prefix, sizeof prefix, "wlan-%d-", radio_num))
        return false;
    if (strstr(line, prefix) == nullptr || strchr(line, '.') != nullptr)
        return false;
    const char *p = strchr(line, ':');
    if (p == nullptr)
        return true;
    ++p;
    long long n = 0;
    unsigned long long u = 0;
    if (!scan_ull(&p, &u))
        return true;
    v->rx_bytes = u;
    int *ints[] = {&v->rx_packets, &v->rx_errs,       &v->rx_drop,      &v->rx_fifo,
                   &v->rx_frame,   &v->rx_compressed, &v->rx_multicast};
    for (int *dst : ints) {
        if (!scan_ll(&p, &n))
            return true;
        *dst = wrap32(n);
    }
    if (!scan_ull(&p, &u))
        return true;
    v->tx_bytes = u;
    if (!scan_ll(&p, &n))
        return true;
    v->tx_packets = wrap32(n);
    if (!scan_ll(&p, &n))
        return true;
    v->tx_errs = wrap32(n);
    return true;
}

uint32_t hvd_err_rate(uint32_t frames, float errors)
{
    if (frames == 0)
        return 0;
    float d = static_cast<float>(frames) + errors;
    if (!(d > 0.0f))
        return 0;
    float rate = (errors / d) * 100.0f;
    if (!(rate >= 0.0f))
        return 0;
    if (rate >= 4294967295.0f)
        return UINT32_MAX;
    return static_cast<uint32_t>(rate);
}

char *hvd_list_first(char *buf, const char *end)
{
    if (buf == nullptr || buf >= end || memchr(buf, '\0', static_cast<size_t>(end - buf)) == nullptr)
        return nullptr;
    return buf;
}

char *hvd_list_next(char *s, const char *end)
{
    if (s == nullptr || s >= end)
        return nullptr;
    char *nul = static_cast<char *>(memchr(s, '\0', static_cast<size_t>(end - s)));
    if (nul == nullptr)
        return nullptr;
    return hvd_list_first(nul + 1, end);
}
