#include "wlan_hvd_parse.h"

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <map>
#include <new>

#include "seam.h"

namespace {

bool all_of(const char *s, size_t min, size_t max, bool (*ok)(char))
{
    if (s == nullptr)
        return false;
    size_t n = 0;
    for (; s[n] != '\0'; ++n) {
        if (n >= max || !ok(s[n]))
            return false;
    }
    return n >= min;
}

bool ifname_char(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-'; }
bool mac_char(char c) { return isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '-'; }

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

// A word as a decimal number the way "%d" reads it: an optional sign and at
// least one digit at the word's start; the value wraps to 32 bits.
bool word_int(const char *w, size_t len, int *out)
{
    char tmp[32];
    copy_field(tmp, sizeof tmp, w);
    tmp[len < sizeof tmp ? len : sizeof tmp - 1] = '\0';
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(tmp, &end, 10);
    if (end == tmp)
        return false;
    *out = static_cast<int>(static_cast<unsigned int>(v));
    return true;
}

bool word_u64(const char *w, size_t len, unsigned long long *out)
{
    char tmp[32];
    copy_field(tmp, sizeof tmp, w);
    tmp[len < sizeof tmp ? len : sizeof tmp - 1] = '\0';
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(tmp, &end, 10);
    if (end == tmp)
        return false;
    *out = v;
    return true;
}

// A word's leading number as atoi reads it (0 when there is none).
uint32_t word_atoi(const char *w, size_t len)
{
    int v = 0;
    return word_int(w, len, &v) ? static_cast<uint32_t>(v) : 0;
}

void copy_word(char *dst, size_t cap, const char *w, size_t len)
{
    size_t n = len < cap - 1 ? len : cap - 1;
    memcpy(dst, w, n);
    dst[n] = '\0';
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

bool hvd_ifname_ok(const char *s)
{
    if (s == nullptr)
        return false;
    while (*s == ' ' || *s == '\t')
        ++s;
    return *s != '-' && all_of(s, 1, 15, ifname_char);
}

bool hvd_mac_ok(const char *s) { return s != nullptr && *s != '-' && all_of(s, 1, 31, mac_char); }

// Tool settings are configuration, not input: a setting such as
// "env wlanconfig" or "LD_LIBRARY_PATH=/opt/lib iwpriv" runs as given.
bool hvd_tool_ok(const char *s) { return s != nullptr && *s != '\0'; }

bool hvd_format(char *buf, size_t cap, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, cap, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= cap) {
        if (cap > 0)
            buf[0] = '\0';
        return false;
    }
    return true;
}

FILE *hvd_cmd_open(const char *cmd) { return rrm_cmd_open(cmd, "r"); }
int hvd_cmd_close(FILE *f) { return rrm_cmd_close(f); }

int hvd_parse_sta_line(const char *line, staInfo_t *entry)
{
    const char *p = line;
    const char *w = nullptr;
    size_t len = 0;
    int read = 0;
    // Columns 1 and 2 are skipped.
    for (int i = 0; i < 2; ++i) {
        if (!next_word(&p, &w, &len))
            return read;
    }
    int v = 0;
    if (!next_word(&p, &w, &len) || !word_int(w, len, &v))
        return read;
    entry->channel = v;
    ++read;
    if (!next_word(&p, &w, &len))
        return read;
    copy_word(entry->txRate, sizeof entry->txRate, w, len);
    ++read;
    if (!next_word(&p, &w, &len))
        return read;
    copy_word(entry->rxRate, sizeof entry->rxRate, w, len);
    ++read;
    if (!next_word(&p, &w, &len) || !word_int(w, len, &v))
        return read;
    entry->sigRSSI = v;
    ++read;
    for (int i = 0; i < 2; ++i) {
        if (!next_word(&p, &w, &len))
            return read;
    }
    unsigned long long u = 0;
    if (!next_word(&p, &w, &len) || !word_u64(w, len, &u))
        return read;
    entry->tx = u;
    ++read;
    if (!next_word(&p, &w, &len) || !word_u64(w, len, &u))
        return read;
    entry->rx = u;
    ++read;
    if (!next_word(&p, &w, &len))
        return read;
    copy_word(entry->bandcap, sizeof entry->bandcap, w, len);
    ++read;
    if (!next_word(&p, &w, &len))
        return read;
    if (!next_word(&p, &w, &len) || len < 3 || strncmp(w, "11", 2) != 0)
        return read;
    copy_word(entry->dot11Features, sizeof entry->dot11Features, w + 2, len - 2);
    ++read;
    return read;
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

struct KeptOutput {
    bool started = false;
    int error = 0;
    std::string text;
};

struct KeptListing {
    bool started = false;
    int error = 0;
    HvdStaIndex index;
};

// What one collection pass has kept, by command text.
struct PassKeep {
    std::map<std::string, KeptOutput, std::less<>> outputs;
    std::map<std::string, KeptListing, std::less<>> listings;
};

thread_local PassKeep *t_pass = nullptr;

// Runs cmd and appends its whole output to text; false (errno saying why)
// when it could not be started.
bool run_whole(const char *cmd, std::string &text)
{
    FILE *f = hvd_cmd_open(cmd);
    if (f == nullptr)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    hvd_cmd_close(f);
    return true;
}

bool keeping_switched_off()
{
    const char *v = getenv("RRM_PASS_CACHE");
    return v != nullptr && strcmp(v, "off") == 0;
}

}  // namespace

HvdPassScope::HvdPassScope() : active_(false)
{
    if (t_pass == nullptr && !keeping_switched_off()) {
        t_pass = new (std::nothrow) PassKeep;
        active_ = t_pass != nullptr;
    }
}

HvdPassScope::~HvdPassScope()
{
    if (active_) {
        delete t_pass;
        t_pass = nullptr;
    }
}

const std::string *hvd_cmd_output(const char *cmd, std::string &storage)
{
    if (t_pass == nullptr) {
        storage.clear();
        return run_whole(cmd, storage) ? &storage : nullptr;
    }
    auto it = t_pass->outputs.find(std::string_view(cmd));
    if (it == t_pass->outputs.end()) {
        KeptOutput kept;
        kept.started = run_whole(cmd, kept.text);
        kept.error = kept.started ? 0 : errno;
        it = t_pass->outputs.emplace(cmd, std::move(kept)).first;
    }
    if (!it->second.started) {
        errno = it->second.error;
        return nullptr;
    }
    return &it->second.text;
}

int hvd_sta_listing_lookup(const char *cmd, const char *mac_str, staInfo_t *entry)
{
    if (t_pass == nullptr) {
        FILE *f = hvd_cmd_open(cmd);
        if (f == nullptr)
            return -1;
        int found = hvd_read_sta_listing(f, mac_str, entry);
        hvd_cmd_close(f);
        return found;
    }
    auto it = t_pass->listings.find(std::string_view(cmd));
    if (it == t_pass->listings.end()) {
        KeptListing kept;
        std::string text;
        kept.started = run_whole(cmd, text);
        kept.error = kept.started ? 0 : errno;
        if (kept.started)
            kept.index.build(std::move(text));
        it = t_pass->listings.emplace(cmd, std::move(kept)).first;
    }
    if (!it->second.started) {
        errno = it->second.error;
        return -1;
    }
    char line[256];
    if (!it->second.index.find(mac_str, line))
        return 0;
    hvd_parse_sta_line(line, entry);
    return 1;
}

void hvd_apply_wds_line(char *line, staInfo_t *entry, bool *parse_error)
{
    static const Row kSecurityRows[] = {
        ROW("  WDS_SSID", "  WDS_profile", ssid),
        ROW("  Security", "  Security_profile", security),
    };
    static const Row kProfileRows[] = {
        ROW("  WDS_profile", nullptr, ssidProfileName),
        ROW("  Security_profile", nullptr, secProfileName),
    };
    const char *type = nullptr;
    char *value = nullptr;
    split_config(line, &type, &value);
    if (value == nullptr)
        return;
    if (strncmp(value, kParseError, strlen(kParseError)) == 0)
        *parse_error = true;
    apply_first(kSecurityRows, 2, type, value, entry);
    apply_first(kProfileRows, 2, type, value, entry);
}

void hvd_apply_wlan_line(char *line, staInfo_t *entry, bool *parse_error)
{
    static const Row kSecurityRows[] = {
        ROW("  SSID", "  SSID_profile", ssid),
        ROW("  Security", "  Security_profile", security),
    };
    static const Row kProfileRows[] = {
        ROW("  SSID_profile", nullptr, ssidProfileName),
        ROW("  Security_profile", nullptr, secProfileName),
    };
    const char *type = nullptr;
    char *value = nullptr;
    split_config(line, &type, &value);
    if (value == nullptr || value[0] == '\0')
        return;
    ++value;  // the blank after the ":"
    if (strncmp(value, kParseError, strlen(kParseError)) == 0)
        *parse_error = true;
    apply_first(kSecurityRows, 2, type, value, entry);
    apply_first(kProfileRows, 2, type, value, entry);
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
