// End to end, from data: each cases/<name>.scn is played in the simulated
// access point and checked against cases/<name>.expect, step by step.
//
//   debug                          switch the daemon's trace file on
//   step N                         play step N of the scenario
//   db TABLE KEY FIELD [VALUE]     the field reads VALUE (empty when none)
//   match TABLE KEY FIELD REGEX    the field matches REGEX
//   keys TABLE FIELD KEY...        the keys holding FIELD, in order
//   lines FILE N[+] TEXT           N (at least N) lines of a state file hold TEXT
//   pass N                         run N collection passes
//   exec COMMAND => TEXT           a command inside the access point prints TEXT
//                                  (\n a line end; ~TEXT: holds it; /REGEX)
//   probe PROGRAM ARGS             run a test program of the build tree inside
//                                  the access point, its database commands
//                                  traced to probe.trace
// "$AP" stands for the scenario's access point MAC; "#" starts a comment.
// Every case also checks that the bus inside is reachable from the host.
#include "sim_harness.h"

#include "../common/transcript.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using e2e::SimAp;

std::vector<std::string> words_of(const std::string &line, size_t n, std::string *rest)
{
    std::istringstream in(line);
    std::vector<std::string> w(n);
    for (std::string &x : w)
        in >> x;
    rest->clear();  // the line may be `rest` itself; `in` holds its copy
    std::getline(in >> std::ws, *rest);
    return w;
}

void check(SimAp &ap, const std::string &line)
{
    std::string rest;
    const std::string verb = words_of(line, 1, &rest)[0];
    if (verb == "db" || verb == "match") {
        auto w = words_of(rest, 3, &rest);
        const std::string got = ap.get(w[0], w[1], w[2]);
        if (verb == "db")
            EXPECT_EQ(got, rest);
        else
            EXPECT_TRUE(std::regex_match(got, std::regex(rest))) << got;
    } else if (verb == "keys") {
        auto w = words_of(rest, 2, &rest);
        std::string got;
        for (const std::string &k : ap.keys(w[0], w[1]))
            got += (got.empty() ? "" : " ") + k;
        EXPECT_EQ(got, rest);
    } else if (verb == "lines") {
        auto w = words_of(rest, 2, &rest);
        const size_t n = ap.lines_with(w[0], rest).size(), want = std::stoul(w[1]);
        if (w[1].back() == '+')
            EXPECT_GE(n, want);
        else
            EXPECT_EQ(n, want);
    } else if (verb == "probe") {
        // The build tree, seen from inside, lies beside the state folder's view.
        std::string inside, out;
        std::getline(std::ifstream(ap.state() + "/inside-path"), inside);
        ASSERT_FALSE(inside.empty()) << "the simulator names no inside path";
        const std::string program = inside.substr(0, inside.rfind('/')) + "/build/tests/" + rest;
        EXPECT_EQ(e2e::run("STATUSDB_TRACE=" + e2e::q(inside + "/probe.trace") + " sh " +
                               e2e::q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim") + " exec " +
                               e2e::q(ap.state()) + " " + program,
                           &out),
                  0)
            << out;
    } else {
        ADD_FAILURE() << "unknown check";
    }
}

void play_case(const std::string &dir, const std::string &name)
{
    const std::string scenario = proc::slurp(dir + "/" + name + ".scn");
    const size_t at = scenario.find("\nap ");
    ASSERT_NE(at, std::string::npos);
    const std::string mac = scenario.substr(at + 4, 17);
    SimAp ap("case-" + name, scenario);
    std::string out;
    e2e::run("rm -rf " + e2e::q(ap.state()));  // nothing of an earlier run
    ASSERT_EQ(ap.start("", &out), 0) << out;
    ASSERT_TRUE(ap.daemon_built());
    // The bus inside is reachable from the host through the state folder's socket.
    const std::string tools = ap.file("tools"), launcher = "sh " + e2e::q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim");
    const size_t at_ubus = tools.find("UBUS='") + 6;
    const std::string ubus = tools.substr(at_ubus, tools.find('\'', at_ubus) - at_ubus);
    EXPECT_TRUE(ubus.empty() || e2e::run(e2e::q(ubus) + " -s " + e2e::q(ap.state() + "/run/ubus/ubus.sock") +
                                         " send host_probe '{}'") == 0);
    transcript::play("e2e/cases/" + name + ".expect", {{"$AP", mac}}, [&](const std::string &line) {
        if (line == "debug") {
            std::ofstream(ap.state() + "/tmp/wlan_module_debug").close();
        } else if (line.rfind("step ", 0) == 0) {
            ASSERT_EQ(ap.play(std::stoi(line.substr(5)), &out), 0) << out;
        } else if (line.rfind("pass ", 0) == 0) {
            ASSERT_EQ(ap.pass(std::stoi(line.substr(5))), 0);
        } else if (line.rfind("exec ", 0) == 0) {  // exec COMMAND => TEXT, ~TEXT (holds it) or /REGEX
            const size_t arrow = line.find(" => ");
            e2e::run(launcher + " exec " + e2e::q(ap.state()) + " /bin/sh -c " + e2e::q(line.substr(5, arrow - 5)), &out);
            const std::string want = transcript::unescape(line.substr(arrow + 4));
            if (want[0] == '~')
                EXPECT_NE(out.find(want.substr(1)), std::string::npos) << out;
            else if (want[0] == '/')
                EXPECT_TRUE(std::regex_match(out, std::regex(want.substr(1)))) << out;
            else
                EXPECT_EQ(out, want);
        } else {
            check(ap, line);
        }
    });
    EXPECT_TRUE(ap.daemon_clean());
    EXPECT_EQ(ap.stop(), 0);
}

TEST(Cases, EachScenarioMeetsItsExpectations)
{
    std::string why;
    if (!e2e::can_simulate(&why))
        GTEST_SKIP() << why;
    const std::string dir = std::string(getenv("RRM_SOURCE_DIR")) + "/tests/e2e/cases";
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".scn")
            names.push_back(e.path().stem());
    std::sort(names.begin(), names.end());
    ASSERT_FALSE(names.empty()) << dir;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        play_case(dir, name);
    }
}

}  // namespace
