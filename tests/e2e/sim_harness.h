// A simulated access point for end-to-end tests: starts sim/rrm-sim with a
// scenario, plays it, reads the state folder, and stops it when the test
// ends. Finds the launcher and the programs through RRM_SOURCE_DIR and
// RRM_BINARY_DIR.
#ifndef E2E_SIM_HARNESS_H
#define E2E_SIM_HARNESS_H

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../common/proc.h"

namespace e2e {

using proc::run;  // a command line (already quoted): its exit status, its output in *out

// True when the tests can run the simulator (root).
bool can_simulate(std::string *why);

// Single-quotes a word for the shell.
std::string q(const std::string &word);

class SimAp {
public:
    // `name` names the state folder; `scenario` is the scenario's text.
    SimAp(const std::string &name, const std::string &scenario);
    ~SimAp();
    SimAp(const SimAp &) = delete;
    SimAp &operator=(const SimAp &) = delete;

    // `start` with extra environment words (e.g. "SIM_UBUSD=/bin/false").
    int start(const std::string &env = "", std::string *out = nullptr);
    // Plays the whole timeline, or only step `step` (1-based; in order).
    int play(int step = 0, std::string *out = nullptr);
    int pass(int count = 1);
    int stop();

    // One status database read: the reply of "-t T -k K -g F".
    std::string get(const std::string &table, const std::string &key, const std::string &field);
    // The keys of a table that hold a field.
    std::vector<std::string> keys(const std::string &table, const std::string &field);

    const std::string &state() const { return state_; }
    std::string file(const std::string &rel) const { return proc::slurp(state_ + "/" + rel); }
    // Lines of a state file that contain a text.
    std::vector<std::string> lines_with(const std::string &rel, const std::string &text) const;
    bool daemon_built() const;
    // The daemon's output holds no sanitizer report and no abort.
    ::testing::AssertionResult daemon_clean() const;

private:
    std::string launcher_, build_, scenario_path_, state_;
    bool started_ = false;
    FILE *guard_ = nullptr;  // stops the simulation when this process ends
};

}  // namespace e2e

#endif
