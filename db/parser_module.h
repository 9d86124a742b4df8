/*
 * Status database client.
 *
 * parser_open("dbcmd") hands out the client's function table. A caller opens
 * a client with init_sock, sends commands with gen_cmd and ends the client
 * with close_sock. Each client is independent: several may be open at once,
 * in one thread or in several, and in several processes.
 *
 * A command is a null-terminated list of words, the first always "dbctl":
 *
 *   "-a" T          create table T
 *   "-t" T          table T for the rest of the command
 *   "-i" K          create key K in the table
 *   "-k" K          key K for the rest of the command
 *   "-f" F "-s" V   set field F of the key to the text V (the pair may repeat)
 *   "-g" F          read field F of the key; the reply is its text, or "N/A"
 *   "-r" K          delete key K with all its fields
 *   "-f" F "-l"     list the keys of the table that hold F
 *
 * The reply of "-l" is a run of NUL-terminated texts, two per key (the key,
 * then the field name, one blank and the value), ended by an empty text.
 * Every other reply is one NUL-terminated text of at most
 * PARSER_REPLY_MAX bytes; a list reply never exceeds PARSER_LIST_REPLY_MAX
 * bytes and holds whole entries only.
 *
 * gen_cmd returns 0 when the command was carried out and a negative number
 * when it was refused; a refused command changes nothing.
 */
#ifndef DB_PARSER_MODULE_H
#define DB_PARSER_MODULE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Reply buffer sizes the callers provide. */
#define PARSER_REPLY_MAX 10240
#define PARSER_LIST_REPLY_MAX 46080

/* GCC checks the null word at every call through the table; clang accepts
 * the mark only on functions, so there it is left out. */
#if defined(__GNUC__) && !defined(__clang__)
#define PARSER_SENTINEL __attribute__((sentinel))
#else
#define PARSER_SENTINEL
#endif

typedef struct parser_module {
    /* Members kept for the table's layout; this client answers failure. */
    int (*handle)(void *client, void *data, unsigned int len);
    int (*get_id)(void *client);
    int (*parser)(void *client, const char *text, char *reply, unsigned int len);
    void *(*get_addr)(void *client);
    /* Opens a client; null on failure. */
    void *(*init_sock)(unsigned int id);
    int (*handle_tlv)(void *client, const void *tlv, unsigned int len);
    int (*comm_server)(void *client);
    /* Ends a client; 0 on success, -1 for a null client. */
    int (*close_sock)(void *client, unsigned int id);
    /* Runs one command: the words follow the reply buffer, ending with a
     * null pointer, e.g. gen_cmd(c, reply, "dbctl", "-a", "T", (char *)0). */
    int (*gen_cmd)(void *client, char *reply, ...) PARSER_SENTINEL;
} parser_module;

/* The client table for "dbcmd"; null for any other name. */
parser_module *parser_open(const char *name);

#ifdef __cplusplus
}
#endif

#endif
