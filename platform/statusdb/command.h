// The "dbctl" command words, read into a list of steps.
//
// Reading checks only the shape of a command (known words, each followed by
// its text, a table before anything that needs one, a key before field
// work, text lengths); whether the named tables and keys exist is decided
// when the steps run against the database.
#ifndef STATUSDB_COMMAND_H
#define STATUSDB_COMMAND_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace statusdb {

// Longest table name, key, field name or value, in bytes.
inline constexpr std::size_t kMaxText = 255;
// Most words in one command, "dbctl" included.
inline constexpr std::size_t kMaxWords = 1024;

enum class StepKind {
    CreateTable,  // "-a" T
    UseTable,     // "-t" T
    CreateKey,    // "-i" K
    UseKey,       // "-k" K
    Set,          // "-f" F "-s" V
    Get,          // "-g" F
    Remove,       // "-r" K
    List,         // "-f" F "-l"
};

struct Step {
    StepKind kind;
    std::string_view name;   // table, key or field
    std::string_view value;  // Set only
};

struct Command {
    std::vector<Step> steps;
    bool reads = false;  // holds a Get or a List
    bool lists = false;  // holds a List
};

// Reads WORDS (the first must be "dbctl") into OUT. On a bad command returns
// false and puts the reason in ERROR. The views in OUT point into WORDS.
bool parse_command(const std::vector<std::string_view> &words, Command &out, std::string &error);

}  // namespace statusdb

#endif
