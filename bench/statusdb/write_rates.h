// Write rates of the status database on one file, for benchmarks that
// compare their own event path with what the database itself can do.
#ifndef BENCH_STATUSDB_WRITE_RATES_H
#define BENCH_STATUSDB_WRITE_RATES_H

namespace statusdb_bench {

// The fields of a station association record, written as one command.
inline constexpr int kFields = 18;

// Commands per second for COUNT eighteen-field writes, each through its own
// client (init_sock, gen_cmd, close_sock) on the database named by
// STATUSDB_PATH. Keys are created first and are not counted. Negative on
// failure.
double client_command_rate(int count);

// The same writes through one client that stays open.
double open_client_command_rate(int count);

// Transactions per second for COUNT raw SQLite upserts of the same
// eighteen values (one transaction each, statements prepared once) on the
// same file. Negative on failure. Every write repeats the values already
// there, which SQLite finds unchanged and leaves out of the log: an upper
// bound for writes that change a record.
double raw_upsert_rate(int count);

// Associations per second for COUNT new stations written with raw SQLite
// the way the event path writes them: the key in one transaction, its
// eighteen fields in a second, statements prepared once, on the same file.
// What the database costs an association without any client around it.
double raw_association_rate(int count);

// This process's resident memory in KiB: all of it (VmRSS) and its private
// anonymous part (RssAnon), from /proc/self/status; -1 when not found.
void self_memory_kib(long *rss, long *anon);

}  // namespace statusdb_bench

#endif
