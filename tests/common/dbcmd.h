// One status database command ("dbctl" and up to eight words) outside any
// command trace, on a client of its own: the reply, "<no client>" when the
// database cannot be opened.
#ifndef TESTS_COMMON_DBCMD_H
#define TESTS_COMMON_DBCMD_H

#include <stdlib.h>

#include <string>
#include <vector>

#include "parser_module.h"

inline std::string dbcmd(std::vector<std::string> words)
{
    const char *trace = getenv("STATUSDB_TRACE");
    const std::string saved = trace != nullptr ? trace : "";
    unsetenv("STATUSDB_TRACE");
    words.resize(8);
    const char *w[8];
    for (size_t i = 0; i < 8; ++i)
        w[i] = words[i].empty() ? nullptr : words[i].c_str();
    parser_module *db = parser_open("dbcmd");
    void *client = db->init_sock(0);
    std::string reply(PARSER_REPLY_MAX, '\0');
    if (client != nullptr) {
        db->gen_cmd(client, reply.data(), "dbctl", w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], (char *)0);
        db->close_sock(client, 0);
    }
    if (trace != nullptr)
        setenv("STATUSDB_TRACE", saved.c_str(), 1);
    return client != nullptr ? reply.c_str() : "<no client>";
}

#endif
