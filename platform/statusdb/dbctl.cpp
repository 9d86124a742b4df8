// dbctl: runs one status database command from the command line and prints
// its reply, or prints tables for a person.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "parser_module.h"
#include "statusdb.h"
#include "store.h"

namespace {

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: dbctl WORD...          run one command and print its reply\n"
                 "       dbctl --show [TABLE]   print TABLE as columns, or every table\n"
                 "words: -a T | -t T | -i K | -k K | -f F -s V | -g F | -r K | -f F -l\n"
                 "database file: $%s (default %s)\n",
                 statusdb::kPathVariable, statusdb::kDefaultPath);
}

// Prints a list reply: one "KEY<tab>FIELD VALUE" line an entry.
void print_list(const char *reply, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && reply[at] != '\0') {
        const char *key = reply + at;
        std::size_t klen = strnlen(key, size - at);
        at += klen + 1;
        if (at >= size)
            break;
        const char *value = reply + at;
        std::size_t vlen = strnlen(value, size - at);
        at += vlen + 1;
        std::printf("%.*s\t%.*s\n", static_cast<int>(klen), key, static_cast<int>(vlen), value);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    parser_module *db = parser_open("dbcmd");
    void *client = db ? db->init_sock(0) : nullptr;
    if (client == nullptr) {
        std::fprintf(stderr, "dbctl: cannot open the status database %s\n", statusdb::database_path());
        return 1;
    }

    int status = 0;
    if (std::strcmp(argv[1], "--show") == 0) {
        std::string out;
        if (argc > 3) {
            usage(stderr);
            status = 2;
        } else if (!statusdb::show(client, argc == 3 ? argv[2] : nullptr, out)) {
            std::fprintf(stderr, "dbctl: no table '%s'\n", argc == 3 ? argv[2] : "");
            status = 1;
        } else {
            std::fputs(out.c_str(), stdout);
        }
    } else {
        std::vector<const char *> words{"dbctl"};
        words.insert(words.end(), argv + 1, argv + argc);
        std::vector<char> reply(PARSER_LIST_REPLY_MAX, '\0');
        int rc = statusdb::gen_cmd_words(client, reply.data(), words.size(), words.data());
        if (rc < 0) {
            std::fprintf(stderr, "dbctl: %s\n", reply.data());
            status = 1;
        } else {
            std::vector<std::string_view> views(words.begin(), words.end());
            statusdb::Command cmd;
            std::string error;
            if (statusdb::parse_command(views, cmd, error) && cmd.lists)
                print_list(reply.data(), reply.size());
            else
                std::printf("%s\n", reply.data());
        }
    }
    db->close_sock(client, 0);
    return status;
}
