#include "wlan_hvd_cmd.h"

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <new>
#include <string_view>

#include "seam.h"
#include "wlan_hvd_parse.h"

namespace {

bool mac_char(char c) { return isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '-'; }

}  // namespace

bool hvd_mac_ok(const char *s)
{
    if (s == nullptr || *s == '-')
        return false;
    size_t n = 0;
    for (; s[n] != '\0'; ++n) {
        if (n >= 31 || !mac_char(s[n]))
            return false;
    }
    return n >= 1;
}

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

bool hvd_format_named(char *buf, size_t cap, size_t part_cap, const char *name, const char *word, const char *fmt,
                      ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, cap, fmt, ap);
    va_end(ap);
    const size_t as_is = n < 0 ? SIZE_MAX : static_cast<size_t>(n) - strlen(word) + strlen(name);
    if (n < 0 || static_cast<size_t>(n) >= cap || as_is >= part_cap) {
        if (cap > 0)
            buf[0] = '\0';
        return false;
    }
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
    FILE *f = rrm_cmd_open(cmd, "r");
    if (f == nullptr)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    rrm_cmd_close(f);
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
        FILE *f = rrm_cmd_open(cmd, "r");
        if (f == nullptr)
            return -1;
        int found = hvd_read_sta_listing(f, mac_str, entry);
        rrm_cmd_close(f);
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
