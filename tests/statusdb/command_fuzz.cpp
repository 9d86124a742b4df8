// Arbitrary command words against a real database file: no crash, no
// access past a buffer, every reply terminated within its bound, a list
// reply made of whole entries.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "parser_module.h"
#include "statusdb.h"

namespace {

parser_module *db = nullptr;
void *client = nullptr;
std::string dir;

void remove_database() { std::filesystem::remove_all(dir); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    dir = "/tmp/statusdb-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)
        abort();
    atexit(remove_database);
    setenv("STATUSDB_PATH", (dir + "/status.db").c_str(), 1);
    unsetenv("STATUSDB_TRACE");
    db = parser_open("dbcmd");
    client = db ? db->init_sock(0) : nullptr;
    if (client == nullptr)
        abort();
    return 0;
}

// The input is the command's words separated by NUL bytes; when its first
// byte is even, "dbctl" is put in front.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::vector<std::string> words;
    if (data[0] % 2 == 0)
        words.emplace_back("dbctl");
    std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
    while (words.size() < 2 * statusdb::kMaxWords) {
        std::size_t end = rest.find('\0');
        words.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    std::vector<const char *> argv;
    for (auto &w : words)
        argv.push_back(w.c_str());
    const std::vector<std::string_view> views(words.begin(), words.end());

    statusdb::Command cmd;
    std::string error;
    bool parsed = statusdb::parse_command(views, cmd, error);

    static char reply[PARSER_LIST_REPLY_MAX];
    std::memset(reply, 0x5a, sizeof reply);
    int rc = statusdb::gen_cmd_words(client, reply, argv.size(), argv.data());
    if (!parsed && rc != -1)
        abort();
    if (parsed && cmd.lists && rc == 0) {
        // Pairs of texts, then the empty text, all inside the bound.
        std::size_t at = 0;
        for (;;) {
            if (at >= sizeof reply)
                abort();
            std::size_t n = strnlen(reply + at, sizeof reply - at);
            if (n == sizeof reply - at)
                abort();
            if (n == 0)
                break;
            at += n + 1;
            n = strnlen(reply + at, sizeof reply - at);
            if (n == sizeof reply - at || std::memchr(reply + at, ' ', n) == nullptr)
                abort();
            at += n + 1;
        }
    } else if (std::memchr(reply, '\0', PARSER_REPLY_MAX) == nullptr) {
        abort();
    }
    return 0;
}
