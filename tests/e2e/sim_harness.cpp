#include "sim_harness.h"

// With the status database client at hand, reads are made in this process;
// otherwise through the launcher's dbctl.
#if __has_include("parser_module.h")
#include "parser_module.h"
#define E2E_DB_IN_PROCESS 1
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

namespace {

std::string env_or(const char *name, const std::string &fallback)
{
    const char *v = getenv(name);
    return (v && *v) ? v : fallback;
}

}  // namespace

bool can_simulate(std::string *why)
{
    if (geteuid() != 0) {
        *why = "the simulated access point needs root (namespaces, mounts, interfaces)";
        return false;
    }
    if (!getenv("RRM_SOURCE_DIR") || !getenv("RRM_BINARY_DIR")) {
        *why = "RRM_SOURCE_DIR and RRM_BINARY_DIR are not set";
        return false;
    }
    static int probe = -1;  // once per run
    if (probe < 0)
        probe = run("unshare --mount --net --pid --fork true");
    if (probe != 0) {
        *why = "this host refuses private namespaces (unshare --mount --net --pid failed)";
        return false;
    }
    return true;
}

std::string q(const std::string &word)
{
    std::string r = "'";
    for (char c : word)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

SimAp::SimAp(const std::string &name, const std::string &scenario)
{
    std::string src = env_or("RRM_SOURCE_DIR", ".");
    build_ = env_or("RRM_BINARY_DIR", ".");
    launcher_ = src + "/sim/rrm-sim";
    std::string dir = build_ + "/e2e-runs";
    mkdir(dir.c_str(), 0755);
    scenario_path_ = dir + "/" + name + ".scn";
    state_ = dir + "/" + name;
    std::ofstream(scenario_path_) << scenario;
}

SimAp::~SimAp()
{
    if (started_)
        stop();
}

int SimAp::start(const std::string &env, std::string *out)
{
    started_ = true;
    // However this process ends (killed by the test runner on time-out), a
    // shell in a session of its own sees the end of this pipe and stops the
    // simulation, once a start under way is over (the lock).
    const std::string lock = q(state_ + ".lock");
    if (!guard_)
        guard_ = popen(("setsid sh -c 'cat; exec flock -o \"$2\" sh \"$0\" stop \"$1\"' " + q(launcher_) +
                        " " + q(state_) + " " + lock + " >/dev/null 2>&1").c_str(),
                       "we");
    return run(env + (env.empty() ? "" : " ") + "flock -o " + lock + " sh " + q(launcher_) +
                   " --build " + q(build_) + " start " + q(scenario_path_) + " " + q(state_),
               out);
}

int SimAp::play(int step, std::string *out)
{
    return run("sh " + q(launcher_) + " play " + q(state_) +
                   (step > 0 ? " --step " + std::to_string(step) : std::string()),
               out);
}

int SimAp::pass(int count)
{
    return run("sh " + q(launcher_) + " pass " + q(state_) + " " + std::to_string(count));
}

int SimAp::stop()
{
    started_ = false;
    if (guard_)
        pclose(guard_);  // the guard stops the simulation and ends
    guard_ = nullptr;
    return run("sh " + q(launcher_) + " stop " + q(state_));
}

std::string SimAp::get(const std::string &table, const std::string &key, const std::string &field)
{
#ifndef E2E_DB_IN_PROCESS
    std::string out;
    run("sh " + q(launcher_) + " db " + q(state_) + " -t " + q(table) + " -k " + q(key) +
            " -g " + q(field),
        &out);
    return out.erase(out.find_last_not_of("\r\n") + 1);
#else
    // Read in this process through the status database client, on the
    // access point's database file.
    setenv("STATUSDB_PATH", (state_ + "/db/status.db").c_str(), 1);
    unsetenv("STATUSDB_TRACE");
    parser_module *m = parser_open("dbcmd");
    if (!m)
        return "<no database client>";
    void *client = m->init_sock(0);
    if (!client)
        return "<no database connection>";
    static char reply[10240];
    reply[0] = '\0';
    m->gen_cmd(client, reply, "dbctl", "-t", table.c_str(), "-k", key.c_str(), "-g",
               field.c_str(), static_cast<char *>(nullptr));
    m->close_sock(client, 0);
    reply[sizeof reply - 1] = '\0';
    return reply;
#endif
}

std::vector<std::string> SimAp::keys(const std::string &table, const std::string &field)
{
    std::string out;
    run("sh " + q(launcher_) + " db " + q(state_) + " -t " + q(table) + " -f " + q(field) + " -l",
        &out);
    std::vector<std::string> r;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.find('\t') != std::string::npos)
            r.push_back(line.substr(0, line.find('\t')));
    return r;
}

std::vector<std::string> SimAp::lines_with(const std::string &rel, const std::string &text) const
{
    std::vector<std::string> r = proc::lines(state_ + "/" + rel);
    std::erase_if(r, [&](const std::string &l) { return l.find(text) == std::string::npos; });
    return r;
}

::testing::AssertionResult SimAp::daemon_clean() const
{
    std::string out = file("rrm.out");
    for (const char *bad : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                            "Aborted", "Assertion"})
        if (out.find(bad) != std::string::npos)
            return ::testing::AssertionFailure() << "daemon output holds \"" << bad << "\":\n"
                                                 << out.substr(out.find(bad), 2000);
    return ::testing::AssertionSuccess();
}

bool SimAp::daemon_built() const { return file("missing").find("daemon") == std::string::npos; }

}  // namespace e2e
