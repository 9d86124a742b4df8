// simscen: the scenarios of the simulated access point, checked, compiled and
// played. sim/rrm-sim runs it; a person runs rrm-sim.
//
//   simscen check <scenario>
//   simscen compile <scenario> <plan-dir>     what the launcher needs to start
//   simscen play <state-dir> [--show] [--step N]
//   simscen pass <state-dir> <count>
//   simscen show <state-dir>
//
// A scenario with an error is refused with "<file>:<line>: <reason>" and exit
// status 2 before anything is written. play, pass and show work on a running
// simulation (rrm-sim checks that it runs): they replay the scenario the
// simulation was started with (<state-dir>/plan/scenario.scn), write the
// number of problems met to <state-dir>/problems and end with status 0; a
// refusal, or an access point or daemon gone for good, is status 1.

#include "player.h"
#include "scenario.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

int usage()
{
    fprintf(stderr, "usage: simscen check <scenario>\n"
                    "       simscen compile <scenario> <plan-dir>\n"
                    "       simscen play <state-dir> [--show] [--step N]\n"
                    "       simscen pass <state-dir> <count>\n"
                    "       simscen show <state-dir>\n");
    return 1;
}

int refuse(const std::string &why)
{
    fprintf(stderr, "rrm-sim: %s\n", why.c_str());
    return 1;
}

// The scenario at PATH, compiled; nothing (the refusal printed) otherwise.
std::optional<sim::Plan> compiled(const std::string &path, std::string *text)
{
    if (!sim::system_host().read(path, text) || text->size() >= (1u << 20)) {
        fprintf(stderr, "%s: cannot read the scenario (missing, unreadable or over 1 MiB)\n", path.c_str());
        return std::nullopt;
    }
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(*text, &err);
    if (!plan) {
        if (err.line > 0)
            fprintf(stderr, "%s:%d: %s\n", path.c_str(), err.line, err.reason.c_str());
        else
            fprintf(stderr, "%s: %s\n", path.c_str(), err.reason.c_str());
    }
    return plan;
}

// What the launcher reads to start the access point: the settings (a shell
// file), the VAPs, the tools' first answers, and the scenario itself.
bool compile(const sim::Plan &plan, const std::string &text, const std::string &dir)
{
    const sim::Model &m = plan.initial;
    std::string env;
    env += "SIM_AP_MAC=" + sim::shell_quote(m.ap_mac) + "\n";
    env += "SIM_SLOTS=" + std::to_string(m.slots) + "\n";
    env += "SIM_HYBRID=" + std::to_string(m.hybrid) + "\n";
    env += "SIM_TITLE=" + sim::shell_quote(plan.title) + "\n";
    env += "SIM_CLOCK_BASE=" + (m.clock_base >= 0 ? std::to_string(m.clock_base) : "") + "\n";
    env += "SIM_STEPS=" + std::to_string(plan.steps.size()) + "\n";
    std::string vaps;
    for (const sim::Vap &v : m.vaps)
        vaps += v.name + " " + sim::mac_text(v.mac) + " " + (v.up ? "up" : "down") + "\n";
    sim::Host &host = sim::system_host();
    return host.write(dir + "/env", env) && host.write(dir + "/vaps", vaps) &&
           host.write(dir + "/scenario.scn", text) && host.fill(dir + "/fixtures", plan.snapshots.at(0));
}

// A whole number from 1 to MAX.
bool is_count(const std::string &s, long max)
{
    long v = 0;
    return s.size() <= 7 && s.find_first_not_of("0123456789") == std::string::npos &&
           sim::parse_long(s, 1, max, &v);
}

int play(const std::string &state, int argc, char **argv, const sim::Plan &plan, sim::Player &player)
{
    bool show = false;
    std::string only;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--show") == 0) {
            show = true;
        } else if (strcmp(argv[i], "--step") == 0) {
            if (i + 1 >= argc)
                return refuse("--step needs a step number (rrm-sim without arguments lists the commands)");
            only = argv[++i];
        } else {
            return refuse(std::string("play: unknown option '") + argv[i] +
                          "' (rrm-sim without arguments lists the commands)");
        }
    }
    std::string played_text;
    sim::system_host().read(state + "/played", &played_text);
    long played = 0;
    played_text.erase(played_text.find_last_not_of("\n") + 1);
    if (!sim::parse_long(played_text, 0, 1000000, &played))
        played = 0;
    const long steps = static_cast<long>(plan.steps.size());
    if (steps == 0)
        return refuse("the scenario has no steps");
    long from = played + 1, to = steps;
    if (!only.empty()) {
        if (!is_count(only, steps))
            return refuse("--step: '" + only + "' is not a step of this scenario (1 to " + std::to_string(steps) + ")");
        from = to = std::stol(only);
        if (from <= played)
            return refuse("--step " + only + ": steps play in order and step " + std::to_string(played) +
                          " has been played; the next is " + std::to_string(played + 1));
    } else if (played >= steps) {
        return refuse("all " + std::to_string(steps) + " steps have been played already");
    }
    player.play(static_cast<size_t>(from), static_cast<size_t>(to), show);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string cmd = argv[1];
    std::string text;
    if ((cmd == "check" && argc == 3) || (cmd == "compile" && argc == 4)) {
        auto plan = compiled(argv[2], &text);
        if (!plan)
            return 2;
        if (cmd == "check") {
            printf("%s: ok, %zu steps\n", argv[2], plan->steps.size());
            return 0;
        }
        if (!compile(*plan, text, argv[3])) {
            fprintf(stderr, "%s: cannot write the plan: %s\n", argv[3], strerror(errno));
            return 1;
        }
        return 0;
    }
    if (cmd != "play" && !(cmd == "pass" && argc == 4) && !(cmd == "show" && argc == 3))
        return usage();
    const std::string state = argv[2];
    auto plan = compiled(state + "/plan/scenario.scn", &text);
    if (!plan)
        return 1;
    sim::Player player(sim::system_host(), state, *plan);
    try {
        if (cmd == "play") {
            if (int rc = play(state, argc - 3, argv + 3, *plan, player); rc != 0)
                return rc;
        } else if (cmd == "pass") {
            long count = 0;
            if (!is_count(argv[3], 1000))
                return refuse(std::string("pass: '") + argv[3] + "' is not a count from 1 to 1000");
            sim::parse_long(argv[3], 1, 1000, &count);
            player.passes(static_cast<int>(count));
        } else {
            player.show_all();
        }
    } catch (const sim::PlayEnded &) {
        return 1;
    }
    fflush(stdout);
    return sim::system_host().write(state + "/problems", std::to_string(player.problems()) + "\n") ? 0 : 1;
}
