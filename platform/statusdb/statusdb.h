// What the status database client offers beyond its function table: for the
// dbctl tool and the tests of this library.
#ifndef STATUSDB_STATUSDB_H
#define STATUSDB_STATUSDB_H

#include <cstddef>
#include <string>

namespace statusdb {

// The command trace: when $STATUSDB_TRACE names a file, each command's
// words are appended to it, one command a line.
inline constexpr const char *kTraceVariable = "STATUSDB_TRACE";

// Runs the command WORDS[0..COUNT) on CLIENT (from init_sock), exactly as
// gen_cmd does with the same words.
int gen_cmd_words(void *client, char *reply, std::size_t count, const char *const *words);

// One line of the command trace for WORDS, without its line end: the words
// joined by blanks; a word that is empty or holds anything but letters,
// digits and -_.:/@%+=, is written in double quotes with \" \\ \n \r \t and
// \xHH escapes.
std::string trace_line(std::size_t count, const char *const *words);

// Writes table NAME of CLIENT's database as aligned columns into OUT, or,
// with a null NAME, the list of tables. False when there is no such table.
bool show(void *client, const char *name, std::string &out);

}  // namespace statusdb

#endif
