// Readers of the texts that the driver tool, the device shell, the operating
// system and the status database hand to the wlan_hvd unit and the
// collection loop. Shared with the tests.
#ifndef RRM_WLAN_HVD_PARSE_H
#define RRM_WLAN_HVD_PARSE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capwap_wlan_statis.h"
#include "wlan_hvd.h"

// ---------------------------------------------------------------------------
// Driver station listing
// ---------------------------------------------------------------------------

// Reads one listing line (its first 255 characters) into entry with the
// one pattern "%*s %*s %d %s %s %d %*s %*s %llu %llu %s %*s 11%s", as
// sscanf does: a column it cannot read ends the reading, and the fields
// behind it keep their values. Over-long texts are cut to their fields.
// Returns the number of fields read (0 to 8).
int hvd_parse_sta_line(const char *line, staInfo_t *entry);

// Reads a listing (header line first) and fills entry from the line whose
// first word equals mac_str, ignoring case. Returns 1 when found, else 0.
int hvd_read_sta_listing(FILE *f, const char *mac_str, staInfo_t *entry);

// A command's whole output read like its stream: gets and eof answer
// exactly as fgets and feof would on the command's pipe.
class HvdText {
public:
    explicit HvdText(std::string_view text) : rest_(text) {}
    // At most cap - 1 bytes, through the first line end, terminated; null
    // when nothing is left.
    char *gets(char *buf, size_t cap);
    bool eof() const { return eof_; }
    // Bytes not read yet.
    size_t left() const { return rest_.size(); }

private:
    std::string_view rest_;
    bool eof_ = false;
};

// Indexes a listing's text: each line's first word (as "%31s" reads it,
// letters lowered) with the first line that holds it, exactly as
// hvd_read_sta_listing goes through the lines.
class HvdStaIndex {
public:
    void build(std::string text);
    // The line for mac_str, ignoring case, copied into line (256 bytes);
    // false when there is none.
    bool find(const char *mac_str, char (&line)[256]) const;

private:
    // A line of text_ and its first word, as offsets.
    struct Key {
        uint32_t at;    // where the line starts
        uint8_t len;    // its length (at most 255)
        uint8_t word;   // where its first word starts, from the line's start
        uint8_t wlen;   // the word's length (at most 31)
    };
    std::string_view word_of(const Key &k) const { return {text_.data() + k.at + k.word, k.wlen}; }
    std::string text_;
    std::vector<Key> keys_;  // by word, letters lowered
};

// ---------------------------------------------------------------------------
// Device shell configuration ("type:value" lines)
// ---------------------------------------------------------------------------

// Applies one line of the mesh link detail (value kept whole) or of the VAP
// configuration (value without its first character) to entry. line is cut
// at its first line end. *parse_error is set when the value reports a parse
// error of the shell. A line with an empty value changes no field (the rule
// is stated at the prefix tables).
void hvd_apply_wds_line(char *line, staInfo_t *entry, bool *parse_error);
void hvd_apply_wlan_line(char *line, staInfo_t *entry, bool *parse_error);

// ---------------------------------------------------------------------------
// Radio statistics
// ---------------------------------------------------------------------------

// One line (after the heading) of the shell's "show interface wlan status"
// table: when its interface word begins with "wlan-<radio_num>-", sets
// activate for a status word beginning with "U" and adds the frame and rate
// columns. Returns true when the line counted.
bool hvd_wlan_status_line(const char *line, int radio_num, capwapWlanStatis_t *ptr);

// The eleven counters of a "/proc/net/dev" line in the order read.
struct hvd_netdev_values {
    unsigned long long rx_bytes;
    int rx_packets, rx_errs, rx_drop, rx_fifo, rx_frame, rx_compressed, rx_multicast;
    unsigned long long tx_bytes;
    int tx_packets, tx_errs;
};

// A "/proc/net/dev" line counts when it names "wlan-<radio_num>-" and holds
// no "."; its counters after the first ":" then replace those in *v, as far
// as the line supplies them. Returns true when the line counted.
bool hvd_netdev_line(const char *line, int radio_num, hvd_netdev_values *v);

// 100 x errors / (frames + errors) in whole percent, single precision,
// truncated; 0 when frames is 0 or the divisor is not above 0.
uint32_t hvd_err_rate(uint32_t frames, float errors);

// ---------------------------------------------------------------------------
// Database list replies
// ---------------------------------------------------------------------------

// The text that follows the NUL-terminated text s, when it begins before
// end and is itself terminated before end; else null.
char *hvd_list_next(char *s, const char *end);
// The first text of a reply buffer, when it is terminated inside; else null.
char *hvd_list_first(char *buf, const char *end);

#endif
