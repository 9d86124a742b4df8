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

namespace e2e {

// True when the tests can run the simulator (root).
bool can_simulate(std::string *why);

// Runs a command line (already quoted) and gives its exit status; its
// standard output and error land in *out when given.
int run(const std::string &cmdline, std::string *out = nullptr);

// Single-quotes a word for the shell.
std::string q(const std::string &word);

std::string read_file(const std::string &path);

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
    std::string file(const std::string &rel) const { return read_file(state_ + "/" + rel); }
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
