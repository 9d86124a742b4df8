// The player: walks a compiled scenario against a running simulated access
// point (started by sim/rrm-sim). It sends the station-event library's
// messages through the publisher and the wifi manager's records through the
// bus tool, sets interfaces up and down inside the access point, moves the
// scenario clock, puts each step's driver and shell answers in place, waits
// for the daemon to serve what was sent (barriers) and lets collection passes
// run. With the demo's view it prints each step's events and what changed in
// the status tables.
#ifndef SIM_PLAYER_H
#define SIM_PLAYER_H

#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "scenario.h"
#include "view.h"

namespace sim {

// The play cannot go on (the access point or the daemon is gone); the
// message has been printed.
struct PlayEnded {};

class Player {
public:
    // STATE: the state folder; PLAN: its compiled scenario.
    Player(Host &host, std::string state, const Plan &plan);

    // Plays steps FROM..TO (1-based; earlier steps leave their driver and
    // shell answers behind, nothing else). SHOW: the demo's page.
    void play(size_t from, size_t to, bool show);
    // COUNT collection passes.
    void passes(int count);
    // The status tables, the last common-log lines and the announcements.
    void show_all();

    // Problems met (a message not sent, a pass that did not end, a table
    // that could not be read, the daemon ending other than by design).
    int problems() const { return problems_; }

    // Parsing of the state folder's "tools" file (NAME='value' lines).
    static std::string tool_of(const std::string &tools_text, const std::string &name);

private:
    enum class Channel { None, Sta, Bus };

    Host &host_;
    std::string st_;
    const Plan &plan_;
    std::string rrm_, ubusd_, ubus_, dbctl_, sta_pub_;
    bool show_ = false;
    int problems_ = 0;
    Channel pending_ = Channel::None;

    std::string path(const std::string &rel) const { return st_ + "/" + rel; }
    std::string text(const std::string &rel) const;
    long number(const std::string &rel) const;  // -1: none
    void say(const std::string &text) const;
    void say_out(const std::string &text) const;
    void problem(const std::string &text);
    [[noreturn]] void end(const std::string &text) const;
    std::vector<std::string> ap_env() const;
    bool wait_for(int seconds, const std::function<bool()> &done);

    std::string ns_pid() const;
    bool daemon_running() const;
    bool daemon_alive() const;
    void daemon_gone();
    void daemon_news();
    void check_daemon_output();
    size_t count_in_output(const std::string &text) const;

    void flush_pending();
    void sta_barrier();
    void bus_barrier();
    bool pass_once();
    void step_passes(int count);

    void fixtures(size_t snapshot);
    void link(const std::string &vap, const std::string &state);
    int publish(const std::vector<std::string> &args);
    void station_event(const Action &a);
    void bus_event(const Action &a);

    void show_views(bool whole);
    std::string new_lines(const std::string &text, const std::string &name);
};

}  // namespace sim

#endif
