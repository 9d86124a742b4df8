// The wifi manager's event record (hvUMAC_event_msg_t) as named fields: built
// from "--field value" pairs, and printed as one JSON object.
#ifndef WLAN_EVT_RECORD_TEXT_H
#define WLAN_EVT_RECORD_TEXT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "wlan_event.h"

namespace wlan_evt {

// Which member of the record's union an event uses.
enum class Shape { Station, Interface };

struct EventKind {
    const char *name;
    Shape shape;
    uint16_t subtype; // what the sender puts in the record's subtype
    const char *required[3]; // fields an event is never sent without
};

// The events whose record this tool knows; null for any other name.
const EventKind *find_event(std::string_view name);

// A record of EVENT with every byte zero except subtype and len.
hvUMAC_event_msg_t blank_record(const EventKind &event);

// Sets field NAME ("-" and "_" alike) of REC from TEXT. Empty on success,
// otherwise a sentence saying what is wrong.
std::string set_field(hvUMAC_event_msg_t &rec, const EventKind &event, std::string_view name,
                      const char *text);

// { "ifname": ..., "subtype": N, "len": N, then every other field of the
// event's shape that is not zero or empty }.
std::string to_json(const hvUMAC_event_msg_t &rec, const EventKind &event);

// JSON string literal of LEN bytes at S; bytes that are not printable ASCII
// are written as \u00XX.
std::string json_quote(const char *s, size_t len);

// The field list of each shape, for --help.
void print_fields(FILE *to);

} // namespace wlan_evt

#endif
