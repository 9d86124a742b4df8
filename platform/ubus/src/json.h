// JSON texts to blobmsg attributes and back, as the bus tool uses them.
#ifndef UBUS_JSON_H
#define UBUS_JSON_H

#include <libubox/blobmsg.h>

#include <string>

namespace ubusjson {

// Adds the members of the JSON object `text` to `buf`. False (and a reason
// in `err`) when the text is not a JSON object or does not parse.
bool add_object(struct blob_buf *buf, const std::string &text, std::string *err = nullptr);

// Compact JSON of a list of blobmsg attributes (`data`, `len` bytes), as a
// table ({...}) or an array ([...]). Hex-encodes raw (unspecified-type)
// values instead of printing null when `raw_hex` is set.
std::string format_list(const void *data, size_t len, bool array, bool raw_hex = false);

// The same for a table, indented as the bus tool prints call replies: one
// member a line, a tab per nesting level, `"name": value`.
std::string format_indented(const void *data, size_t len);

// JSON string literal of `s` (quotes included).
std::string quote(const char *s, size_t len);

} // namespace ubusjson

#endif
