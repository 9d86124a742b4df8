// simscen: checks a scenario of the simulated access point and compiles it
// into the plan that the launcher plays.
//
//   simscen check <scenario>
//   simscen compile <scenario> <plan-dir>
//
// A scenario with an error is refused with "<file>:<line>: <reason>" and exit
// status 2 before anything is written.

#include "scenario.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>

namespace {

int usage()
{
    fprintf(stderr, "usage: simscen check <scenario>\n"
                    "       simscen compile <scenario> <plan-dir>\n");
    return 1;
}

bool read_file(const char *path, std::string *out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return out->size() < (1u << 20);
}

bool make_dirs(const std::string &path)
{
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
        if (i < path.size())
            part.push_back(path[i]);
    }
    return true;
}

bool write_file(const std::string &path, const void *data, size_t len)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && !make_dirs(path.substr(0, slash)))
        return false;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data, 1, len, f) == len;
    return fclose(f) == 0 && ok;
}

bool write_text(const std::string &path, const std::string &s)
{
    return write_file(path, s.data(), s.size());
}

std::string time_text(long s)
{
    char b[32];
    snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

bool compile(const sim::Plan &plan, const std::string &dir)
{
    using sim::shell_quote;
    const sim::Model &m = plan.initial;
    std::string env;
    env += "SIM_AP_MAC=" + shell_quote(m.ap_mac) + "\n";
    env += "SIM_SLOTS=" + std::to_string(m.slots) + "\n";
    env += "SIM_HYBRID=" + std::to_string(m.hybrid) + "\n";
    env += "SIM_TITLE=" + shell_quote(plan.title) + "\n";
    env += "SIM_CLOCK_BASE=" + (m.clock_base >= 0 ? std::to_string(m.clock_base) : "") + "\n";
    env += "SIM_STEPS=" + std::to_string(plan.steps.size()) + "\n";
    if (!write_text(dir + "/env", env))
        return false;

    std::string vaps;
    for (const sim::Vap &v : m.vaps)
        vaps += v.name + " " + sim::mac_text(v.mac) + " " + (v.up ? "up" : "down") + "\n";
    if (!write_text(dir + "/vaps", vaps))
        return false;

    for (size_t i = 0; i < plan.snapshots.size(); ++i)
        for (const auto &[path, text] : plan.snapshots[i])
            if (!write_text(dir + "/fixtures/" + std::to_string(i) + "/" + path, text))
                return false;
    for (size_t i = 0; i < plan.records.size(); ++i)
        if (!write_file(dir + "/records/" + std::to_string(i) + ".bin", plan.records[i].data(),
                        plan.records[i].size()))
            return false;

    std::string sh = "# Plan of the scenario; sourced by the launcher.\n";
    for (size_t n = 0; n < plan.steps.size(); ++n) {
        const sim::Step &s = plan.steps[n];
        sh += "sim_step " + std::to_string(n + 1) + " " + shell_quote(time_text(s.time_s)) +
              " " + shell_quote(s.title) + " " + std::to_string(s.time_s) + "\n";
        for (const sim::Action &a : s.actions) {
            static const char *verbs[] = {"sim_fixtures", "sim_sta", "sim_ubus",
                                          "sim_link",     "sim_pass", "sim_note"};
            sh += verbs[a.kind];
            for (const std::string &w : a.args)
                sh += " " + shell_quote(w);
            sh += "\n";
        }
        sh += "sim_step_end " + std::to_string(n + 1) + "\n";
    }
    return write_text(dir + "/plan.sh", sh);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    std::string cmd = argv[1];
    if (!((cmd == "check" && argc == 3) || (cmd == "compile" && argc == 4)))
        return usage();
    std::string text;
    if (!read_file(argv[2], &text)) {
        fprintf(stderr, "%s: cannot read the scenario (missing, unreadable or over 1 MiB)\n",
                argv[2]);
        return 2;
    }
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(text, &err);
    if (!plan) {
        if (err.line > 0)
            fprintf(stderr, "%s:%d: %s\n", argv[2], err.line, err.reason.c_str());
        else
            fprintf(stderr, "%s: %s\n", argv[2], err.reason.c_str());
        return 2;
    }
    if (cmd == "check") {
        printf("%s: ok, %zu steps\n", argv[2], plan->steps.size());
        return 0;
    }
    if (!compile(*plan, argv[3])) {
        fprintf(stderr, "%s: cannot write the plan: %s\n", argv[3], strerror(errno));
        return 1;
    }
    return 0;
}
