// Prints the write rates of the status database on one file: an
// eighteen-field write through init_sock/gen_cmd/close_sock, the same with
// one client kept open, and the raw SQLite upsert of the same eighteen
// values, the limit the daemon's event path is measured against; then the
// first as a share of the last, and this process's resident memory.
//
// usage: statusdb_bench [COUNT]   (database: $STATUSDB_PATH, else a new
// file in a temporary folder)
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "write_rates.h"

int main(int argc, char **argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 3000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: statusdb_bench [COUNT]\n");
        return 2;
    }
    std::string dir;
    const char *given = getenv("STATUSDB_PATH");
    if (given == nullptr || *given == '\0') {
        const char *tmp = getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/statusdb-bench-XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        setenv("STATUSDB_PATH", (dir + "/status.db").c_str(), 1);
    }
    unsetenv("STATUSDB_TRACE");
    std::printf("status database write rates, %d writes of %d fields each, on %s\n", count,
                statusdb_bench::kFields, getenv("STATUSDB_PATH"));

    double per_client = statusdb_bench::client_command_rate(count);
    double one_client = statusdb_bench::open_client_command_rate(count);
    double raw = statusdb_bench::raw_upsert_rate(count);
    if (per_client < 0 || one_client < 0 || raw < 0) {
        std::fprintf(stderr, "statusdb_bench: a write failed\n");
        return 1;
    }
    std::printf("%-52s %10.0f commands/s  %8.1f us each\n", "client per command (init_sock/gen_cmd/close_sock):",
                per_client, 1e6 / per_client);
    std::printf("%-52s %10.0f commands/s  %8.1f us each\n", "one open client (gen_cmd only):", one_client,
                1e6 / one_client);
    std::printf("%-52s %10.0f upserts/s   %8.1f us each\n", "raw SQLite upsert of the 18 values:", raw, 1e6 / raw);
    std::printf("client per command at %.1f%% of the raw upsert rate\n", 100.0 * per_client / raw);
    long rss = 0, anon = 0;
    statusdb_bench::self_memory_kib(&rss, &anon);
    std::printf("this process: RSS %ld KiB, private anonymous (RssAnon) %ld KiB\n", rss, anon);

    if (!dir.empty()) {
        for (const char *f : {"/status.db", "/status.db-wal", "/status.db-shm"})
            unlink((dir + f).c_str());
        rmdir(dir.c_str());
    }
    return 0;
}
