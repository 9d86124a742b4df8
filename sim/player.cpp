#include "player.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

// What the daemon prints once it has served a barrier.
const char *kStaServed = "Skip sta event from pap-1-11";
const char *kBusServed = "ubus event handler, method=";

std::string time_text(long s)
{
    char b[32];
    snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        out.push_back(text.substr(from, nl - from));
    return out;  // a last line without its end is not complete yet
}

bool has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

}  // namespace

Player::Player(Host &host, std::string state, const Plan &plan) : host_(host), st_(std::move(state)), plan_(plan)
{
    std::string tools;
    host_.read(path("tools"), &tools);
    rrm_ = tool_of(tools, "RRM");
    ubusd_ = tool_of(tools, "UBUSD");
    ubus_ = tool_of(tools, "UBUS");
    dbctl_ = tool_of(tools, "DBCTL");
    sta_pub_ = tool_of(tools, "STA_PUB");
}

std::string Player::tool_of(const std::string &tools_text, const std::string &name)
{
    for (const std::string &line : lines_of(tools_text))
        if (line.rfind(name + "='", 0) == 0 && line.size() > name.size() + 2 && line.back() == '\'')
            return line.substr(name.size() + 2, line.size() - name.size() - 3);
    return "";
}

// --- small things ------------------------------------------------------------

std::string Player::text(const std::string &rel) const
{
    std::string t;
    host_.read(path(rel), &t);
    return t;
}

long Player::number(const std::string &rel) const
{
    std::string t = text(rel);
    t.erase(t.find_last_not_of("\n") + 1);
    if (t.empty() || t.size() > 12 || t.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return strtol(t.c_str(), nullptr, 10);
}

void Player::say(const std::string &text) const
{
    fflush(stdout);
    fprintf(stderr, "rrm-sim: %s\n", text.c_str());
    fflush(stderr);
}

// A line of the play's report: the demo's page, or standard error.
void Player::say_out(const std::string &text) const
{
    if (show_) {
        fputs(page_line(text).c_str(), stdout);
        fflush(stdout);
    } else {
        say(text);
    }
}

void Player::problem(const std::string &text)
{
    say(text);
    ++problems_;
}

void Player::end(const std::string &text) const
{
    say(text);
    throw PlayEnded{};
}

std::vector<std::string> Player::ap_env() const
{
    return {"STATUSDB_PATH=" + path("db/status.db"), "COMMON_LOG_DIR=" + path("log"),
            "HVKIT_HYBRID_MODE=" + std::to_string(plan_.initial.hybrid),
            "CAPWAP_MODEL_SLOT_NUM=" + std::to_string(plan_.initial.slots)};
}

// Polls every 50 ms until DONE holds; false after SECONDS.
bool Player::wait_for(int seconds, const std::function<bool()> &done)
{
    for (int i = 0; !done(); ) {
        if (++i >= seconds * 20)
            return false;
        host_.sleep_ms(50);
    }
    return true;
}

// --- the access point and its daemon ----------------------------------------

// The namespace's first process, when it is still this simulation's (its
// command line names the inside step and this state folder), so a recycled
// pid is never taken for it.
std::string Player::ns_pid() const
{
    std::string pid = text("ns.pid");
    pid.erase(pid.find_last_not_of("\n") + 1);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
        return "";
    std::string cmdline;
    if (!host_.read("/proc/" + pid + "/cmdline", &cmdline))
        return "";
    for (char &c : cmdline)
        if (c == '\0')
            c = ' ';
    return has(cmdline, ("rrm-sim _inside " + st_ + " ").c_str()) ? pid : "";
}

bool Player::daemon_running() const
{
    std::string pid;
    if (rrm_.empty() || !host_.read(path("rrm.pid"), &pid))
        return false;
    if (ns_pid().empty())
        end("the access point in " + st_ + " has ended (stopped from elsewhere?)");
    return true;
}

// The daemon is still among the first process's children and has not ended.
// It is known by its PID inside the access point (the last NSpid field), not
// by its program: under an emulator /proc/PID/exe is the emulator's.
bool Player::daemon_alive() const
{
    const std::string init = ns_pid();
    std::string pid = text("rrm.pid"), children;
    pid.erase(pid.find_last_not_of("\n") + 1);
    if (init.empty() || pid.empty() || !host_.read("/proc/" + init + "/task/" + init + "/children", &children))
        return false;
    size_t from = 0;
    while (from < children.size()) {
        size_t end = children.find(' ', from);
        if (end == std::string::npos)
            end = children.size();
        const std::string child = children.substr(from, end - from);
        from = end + 1;
        std::string status;
        if (child.empty() || !host_.read("/proc/" + child + "/status", &status))
            continue;
        std::string state, nspid;
        for (const std::string &line : lines_of(status)) {
            if (line.rfind("State:", 0) == 0)
                state = line.substr(line.find_first_not_of(" \t", 6));
            if (line.rfind("NSpid:", 0) == 0)
                nspid = line.substr(line.find_last_of(" \t") + 1);
        }
        if (!state.empty() && state[0] != 'Z' && state[0] != 'X' && nspid == pid)
            return true;
    }
    return false;
}

// What the access point's supervisor wrote down since the last look (the
// daemon ended, was started again, or is not started any more). The daemon
// ends by design with status 0 (start-up failures) or by abort (a message it
// cannot send); any other end is a problem of the play.
void Player::daemon_news()
{
    std::string log;
    if (!host_.read(path("daemon.log"), &log))
        return;
    const std::vector<std::string> lines = lines_of(log);
    long seen = std::max(0L, number("daemon.seen"));
    if (static_cast<long>(lines.size()) <= seen)
        return;
    host_.write(path("daemon.seen"), std::to_string(lines.size()) + "\n");
    bool odd_end = false, given_up = false;
    for (size_t i = static_cast<size_t>(seen); i < lines.size(); ++i) {
        say_out(lines[i]);
        odd_end = odd_end || (has(lines[i], "daemon ended:") && !has(lines[i], "exited with status 0;") &&
                              !has(lines[i], "killed by signal 6 "));
        given_up = given_up || has(lines[i], "not started again");
    }
    if (odd_end)
        problem("the daemon ended in a way it does not end by design (see " + path("rrm.out") + ")");
    if (given_up)
        problem("the daemon is not started again");
}

// The daemon has ended. The supervisor starts it again; waits until it runs
// (its first pass done) and goes on, or ends the play.
void Player::daemon_gone()
{
    if (ns_pid().empty())
        end("the access point in " + st_ + " has ended (stopped from elsewhere?)");
    auto state = [&] {
        std::string s = text("daemon.state");
        s.erase(s.find_last_not_of("\n") + 1);
        return s.empty() ? std::string("up") : s;
    };
    wait_for(90, [&] { return state() == "given-up" || (state() == "up" && daemon_alive()); });
    daemon_news();
    if (state() == "up" && daemon_alive())
        return;
    say("the daemon has ended and runs no more; its last output:");
    const std::vector<std::string> out = lines_of(text("rrm.out"));
    for (size_t i = out.size() > 15 ? out.size() - 15 : 0; i < out.size(); ++i)
        fprintf(stderr, "%s\n", out[i].c_str());
    throw PlayEnded{};
}

void Player::check_daemon_output()
{
    const std::string out = text("rrm.out");
    if (has(out, "ERROR: AddressSanitizer") || has(out, "ERROR: LeakSanitizer") || has(out, "runtime error:"))
        problem("the daemon's output holds a sanitizer report (see " + path("rrm.out") + ")");
}

size_t Player::count_in_output(const std::string &part) const
{
    size_t n = 0;
    for (const std::string &line : lines_of(text("rrm.out") + "\n"))
        n += has(line, part.c_str());
    return n;
}

// --- event delivery ------------------------------------------------------------

// Messages of one channel keep their order, so a barrier is needed only when
// the next action goes through the other channel or looks at the result.
void Player::flush_pending()
{
    const Channel c = pending_;
    pending_ = Channel::None;
    if (c == Channel::Sta)
        sta_barrier();
    else if (c == Channel::Bus)
        bus_barrier();
}

// Waits until the daemon has served every station-library message sent so
// far: a disassociation from the provisioning interface is recorded nowhere
// and printed once, after everything queued before it.
void Player::sta_barrier()
{
    if (!daemon_running() || sta_pub_.empty())
        return;
    const size_t before = count_in_output(kStaServed);
    std::vector<std::string> argv{sta_pub_, "disassoc", "--mac", "00:00:00:00:00:00", "--iface", "pap-1-11"};
    std::vector<std::string> env = ap_env();
    env.push_back("STA_UBUS_SOCKET=" + path("run/ubus/ubus.sock"));
    if (host_.run(argv, env, Host::Output::Drop) != 0)
        return problem("station-library barrier not sent");
    if (!wait_for(30, [&] { return count_in_output(kStaServed) > before || !daemon_alive(); }))
        problem("the daemon did not serve a station-library message within 30 s");
    if (!daemon_alive())
        daemon_gone();
}

// The same for the bus: an event name the daemon listens to, with no record.
void Player::bus_barrier()
{
    if (!daemon_running() || ubus_.empty())
        return;
    const size_t before = count_in_output(kBusServed);
    if (host_.run({ubus_, "-s", path("run/ubus/ubus.sock"), "send", "channel_changed", "{}"}, {},
                  Host::Output::Drop) != 0)
        return problem("bus barrier not sent");
    if (!wait_for(30, [&] { return count_in_output(kBusServed) > before || !daemon_alive(); }))
        problem("the daemon did not serve a bus event within 30 s");
    if (!daemon_alive())
        daemon_gone();
}

// Lets the held pause end and waits until the next one begins, which is the
// end of one whole collection pass.
bool Player::pass_once()
{
    if (!daemon_running())
        return true;
    const long p = std::max(0L, number("pause/paused"));
    host_.write(path("pause/release"), std::to_string(p) + "\n");
    if (!wait_for(90, [&] { return number("pause/paused") > p || !daemon_alive(); })) {
        problem("collection pass " + std::to_string(p + 1) + " did not end within 90 s");
        return false;
    }
    if (!daemon_alive())
        daemon_gone();
    return true;
}

void Player::step_passes(int count)
{
    flush_pending();
    if (show_)
        printf("    collection pass\n");
    for (int i = 0; i < count && pass_once(); ++i) {
    }
}

void Player::passes(int count)
{
    show_ = false;
    for (int i = 0; i < count && pass_once(); ++i) {
    }
    daemon_news();
}

// --- actions -------------------------------------------------------------------

void Player::fixtures(size_t snapshot)
{
    flush_pending();
    if (snapshot < plan_.snapshots.size() && !host_.fill(path("ap"), plan_.snapshots[snapshot]))
        problem("cannot put the access point's answers in place in " + path("ap"));
}

void Player::link(const std::string &vap, const std::string &state)
{
    flush_pending();
    const std::string init = ns_pid();
    if (init.empty())
        end("the simulation in " + st_ + " is not running");
    if (host_.run({"nsenter", "-t", init, "-m", "-n", "-p", "--", "ip", "link", "set", "dev", vap, state}, {},
                  Host::Output::Inherit) != 0)
        problem("cannot set " + vap + " " + state);
    if (show_)
        printf("    interface %s %s\n", vap.c_str(), state.c_str());
}

int Player::publish(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{sta_pub_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ap_env();
    env.push_back("STA_UBUS_SOCKET=" + path("run/ubus/ubus.sock"));
    return host_.run(argv, env, Host::Output::KeepErrors);
}

void Player::station_event(const Action &a)
{
    if (pending_ != Channel::Sta)
        flush_pending();
    const std::vector<std::string> &w = a.args;
    if (sta_pub_.empty()) {
        std::string words = a.kind == Action::Assoc ? "assoc" : a.kind == Action::Disassoc ? "disassoc" : "cloud";
        for (const std::string &x : w)
            words += " " + x;
        return say("station-event publisher not built: " + words + " not sent");
    }
    if (a.kind == Action::Assoc) {
        if (show_)
            say_out("association: " + w[0] + " on " + w[1] + " (ssid " + w[2] + ", security " + w[3] + ", " + w[7] +
                    " dBm)");
        if (publish({"assoc", "--mac", w[0], "--iface", w[1], "--ssid", w[2], "--security", w[3], "--vid", w[4],
                     "--auth", w[5], "--band", w[6], "--rssi", w[7], "--channel", w[8]}) != 0)
            problem("association of " + w[0] + " not published");
    } else if (a.kind == Action::Disassoc) {
        if (show_)
            printf("    disassociation: %s from %s\n", w[0].c_str(), w[1].c_str());
        if (publish({"disassoc", "--mac", w[0], "--iface", w[1]}) != 0)
            problem("disassociation of " + w[0] + " not published");
    } else {
        if (show_)
            printf("    cloud peer: %s\n", w[0].c_str());
        if (publish({w[0]}) != 0)
            problem("cloud message " + w[0] + " not published");
    }
    pending_ = Channel::Sta;
}

// A wifi-manager event: its name, whom and what it is about, its record.
void Player::bus_event(const Action &a)
{
    if (pending_ != Channel::Bus)
        flush_pending();
    const std::string &name = a.args[0];
    if (show_)
        say_out("wifi manager: \"" + name + "\" " + a.args[1]);
    if (ubus_.empty() || ubusd_.empty())
        return say("bus not built: " + name + " not sent");
    const std::string record = path("plan/record.bin");
    if (!host_.write(record, std::string(a.record.begin(), a.record.end())) ||
        host_.run({ubus_, "-s", path("run/ubus/ubus.sock"), "send-raw", name, record}, {}, Host::Output::KeepErrors) != 0)
        problem(name + " not sent");
    pending_ = Channel::Bus;
}

// --- the timeline ----------------------------------------------------------------

void Player::play(size_t from, size_t to, bool show)
{
    show_ = show;
    for (size_t n = 1; n <= plan_.steps.size() && n <= to; ++n) {
        const Step &step = plan_.steps[n - 1];
        flush_pending();
        if (n < from) {
            // earlier steps leave their driver and shell answers behind
            for (const Action &a : step.actions)
                if (a.kind == Action::Fixtures)
                    fixtures(std::stoul(a.args[0]));
            continue;
        }
        if (plan_.initial.clock_base >= 0)
            host_.write(path("pause/clock"), std::to_string(plan_.initial.clock_base + step.time_s) + "\n");
        if (show_) {
            std::string head = "=== step " + std::to_string(n) + " of " + std::to_string(plan_.steps.size()) +
                               " [" + time_text(step.time_s) + "] " + step.title;
            printf("\n%s\n", head.substr(0, 120).c_str());
        } else {
            fflush(stdout);
            fprintf(stderr, "step %zu [%s] %s\n", n, time_text(step.time_s).c_str(), step.title.c_str());
        }
        for (const Action &a : step.actions) {
            switch (a.kind) {
            case Action::Fixtures: fixtures(std::stoul(a.args[0])); break;
            case Action::Assoc:
            case Action::Disassoc:
            case Action::Cloud: station_event(a); break;
            case Action::Ubus: bus_event(a); break;
            case Action::Link: link(a.args[0], a.args[1]); break;
            case Action::Pass: step_passes(std::stoi(a.args[0])); break;
            case Action::Note:
                if (show_)
                    fputs(page_line("note: " + a.args[0]).c_str(), stdout);
                break;
            }
        }
        flush_pending();
        host_.write(path("played"), std::to_string(n) + "\n");
        daemon_news();
        if (show_)
            show_views(false);
        fflush(stdout);
    }
    flush_pending();
    daemon_news();
    check_daemon_output();
}

// --- the view ----------------------------------------------------------------------

// The lines of a growing file (its TEXT now) since the last look; a file
// that started again is read from its start.
std::string Player::new_lines(const std::string &text, const std::string &name)
{
    const std::vector<std::string> lines = lines_of(text);
    long seen = std::max(0L, number("view/" + name + ".seen"));
    if (static_cast<long>(lines.size()) < seen)
        seen = 0;
    host_.write(path("view/" + name + ".seen"), std::to_string(lines.size()) + "\n");
    std::string out;
    for (size_t i = static_cast<size_t>(seen); i < lines.size(); ++i)
        out += lines[i] + "\n";
    return out;
}

// The status tables, the common log and the bus's "sta_leave" announcements;
// WHOLE: all of them, otherwise what changed since the last look.
void Player::show_views(bool whole)
{
    if (dbctl_.empty())
        printf("--- (status database tool not built: no tables to show)\n");
    for (const TableView &view : dbctl_.empty() ? std::vector<TableView>{} : status_tables(plan_.initial.ap_mac)) {
        std::string json, why;
        Rows rows;
        if (host_.run({dbctl_, "--json", view.table}, ap_env(), Host::Output::Capture, &json) != 0) {
            json.erase(json.find_last_not_of("\n") + 1);
            problem("cannot read " + view.table + ": " + json.substr(json.find_last_of('\n') + 1));
            continue;
        }
        if (!rows_from_json(view, json, &rows, &why)) {
            problem("cannot read " + view.table + ": " + why);
            continue;
        }
        const std::string kept = path("view/" + view.id + ".tsv");
        std::string before_text;
        if (!whole)
            host_.read(kept, &before_text);
        const Rows before = rows_of_text(before_text);
        fputs(render_table(view, whole ? nullptr : &before, rows).c_str(), stdout);
        fflush(stdout);
        host_.write(kept, rows_text(view, rows));
    }
    std::string log, bus;
    if (host_.read(path("log/WLAN_MODULE_DB_LOG"), &log)) {
        std::vector<std::string> lines = lines_of(whole ? log : new_lines(log, "log"));
        if (whole)
            new_lines(log, "log");
        if (whole && lines.size() > 4)
            lines.erase(lines.begin(), lines.end() - 4);
        fputs(log_section(lines, whole).c_str(), stdout);
    }
    if (host_.read(path("bus-events.log"), &bus)) {
        const std::string fresh = new_lines(bus, "bus");
        fputs(bus_section(whole ? bus : fresh, bus).c_str(), stdout);
    }
    fflush(stdout);
}

void Player::show_all()
{
    show_views(true);
}

}  // namespace sim
