// Shell commands of the wlan_hvd unit and the collection loop: the checks
// and the formatting of a command line, and the outputs kept for one
// collection pass. Commands run through the seam (rrm_cmd_open). Interface
// names go onto a line through wlan_ifname_word (wlan.h).
#ifndef RRM_WLAN_HVD_CMD_H
#define RRM_WLAN_HVD_CMD_H

#include <stddef.h>

#include <string>

#include "wlan_hvd.h"

// ---------------------------------------------------------------------------
// Command lines
// ---------------------------------------------------------------------------

// A MAC address text: 1 to 31 characters of [0-9A-Fa-f:-], the first not "-".
bool hvd_mac_ok(const char *s);
// A tool setting: any non-empty text (configuration, run as given).
bool hvd_tool_ok(const char *s);

// Formats a command line; false when it would not fit (the line must then
// not be run).
bool hvd_format(char *buf, size_t cap, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Room for a command line that names an interface, and for the name as a
// shell word in it: enough for any name whose line fits a command buffer of
// 256 bytes with the name as it is.
constexpr size_t kHvdWordMax = 1024;
constexpr size_t kHvdNamedLineMax = 1280;

// Formats a command line that names one interface: name as it is, word the
// same name made one shell word by wlan_ifname_word, passed among the
// arguments. False (the line must then not be run) when the line does not
// fit cap bytes, or would not fit part_cap bytes, the command's own buffer,
// with the name as it is in place of the word.
bool hvd_format_named(char *buf, size_t cap, size_t part_cap, const char *name, const char *word, const char *fmt,
                      ...) __attribute__((format(printf, 6, 7)));

// ---------------------------------------------------------------------------
// Outputs kept for one collection pass
// ---------------------------------------------------------------------------

// While a scope lives, the calling thread keeps the output of every command
// whose answer is the same for every station of the pass (driver station
// listings, the active VAP list, the shell's tables and VAP configurations)
// and runs each such command at most once; it is the collection pass's.
// Outside a scope (and with RRM_PASS_CACHE=off in the environment, which
// measures what the reuse saves) every call runs its command anew.
class HvdPassScope {
public:
    HvdPassScope();
    ~HvdPassScope();
    HvdPassScope(const HvdPassScope &) = delete;
    HvdPassScope &operator=(const HvdPassScope &) = delete;

private:
    bool active_;
};

// The output of CMD: kept from earlier in the pass, else run and read whole
// (into STORAGE outside a pass). Null when it could not be started (errno
// then says why, on every call of the pass).
const std::string *hvd_cmd_output(const char *cmd, std::string &storage);

// Looks mac_str up in the station listing that CMD prints, as
// hvd_read_sta_listing would, filling entry from the line found. Within a
// pass the listing runs once and is indexed by its lines' first words.
// Returns 1 when found, 0 when not, -1 when the listing could not be
// started (errno then says why).
int hvd_sta_listing_lookup(const char *cmd, const char *mac_str, staInfo_t *entry);

#endif
