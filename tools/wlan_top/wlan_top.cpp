// wlan_top: a live view of the access point on its own terminal: the
// daemon's health, the radios, the stations of both station tables and the
// last events of the common log, refreshed in place. --once prints one
// plain-text snapshot without curses, --json the same as JSON.
#include <curses.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "top_view.h"
#include "wlan_view.h"

namespace {

volatile sig_atomic_t stop = 0;

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: wlan_top [-d SECONDS] [--db FILE] [--ap MAC] [-s SOCKET] [--once [-w COLUMNS] | --json]\n"
                 "  a live view of the daemon, the radios, the stations and the last events;\n"
                 "  keys: q quit, < > sort column, / filter by MAC, IP or SSID, ? keys\n"
                 "  -d SECONDS  refresh period (default 2)\n"
                 "  --once      one plain-text snapshot, COLUMNS wide (default 120, 0: every column)\n"
                 "  --json      one snapshot as JSON\n"
                 "  database: --db, else $STATUSDB_PATH, else /tmp/statusdb.sqlite;\n"
                 "  common log: $COMMON_LOG_DIR, else /tmp/common_log\n"
                 "  exit status: 0, 1 something could not be read (one line each on standard\n"
                 "  error), 2 bad usage\n");
}

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void draw(const wlan_top::Screen &sc, bool help, double period)
{
    erase();
    for (std::size_t i = 0; i < sc.lines.size() && static_cast<int>(i) < LINES - 1; ++i) {
        const bool rev = std::find(sc.reverse.begin(), sc.reverse.end(), static_cast<int>(i)) != sc.reverse.end();
        if (rev)
            attron(A_REVERSE);
        mvaddnstr(static_cast<int>(i), 0, sc.lines[i].c_str(), COLS);
        if (rev)
            attroff(A_REVERSE);
    }
    char keys[96];
    std::snprintf(keys, sizeof keys, "q quit  < > sort  / filter  ? keys  (every %gs)", period);
    attron(A_REVERSE);
    mvaddnstr(LINES - 1, 0, keys, COLS);
    attroff(A_REVERSE);
    if (help) {
        static const char *const lines[] = {
            " keys                                   ",
            "  q      quit                           ",
            "  <  >   sort by the column left/right  ",
            "  /      filter by MAC, IP or SSID      ",
            "         (empty: no filter)             ",
            "  ?      this help; any key closes it   ",
        };
        for (int i = 0; i < 6; ++i)
            mvaddnstr(2 + i, 2, lines[i], COLS - 2);
    }
    refresh();
}

std::string ask_filter()
{
    char buf[64] = {};
    timeout(-1);
    echo();
    curs_set(1);
    move(LINES - 1, 0);
    clrtoeol();
    addstr("filter (MAC, IP or SSID): ");
    const int rc = getnstr(buf, sizeof buf - 1);
    noecho();
    curs_set(0);
    return rc == OK ? buf : "";
}

int live(const wlan_view::Options &opt, double period)
{
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, "wlan_top: not a terminal; --once or --json print a snapshot\n");
        return 2;
    }
    if (initscr() == nullptr)
        return 1;
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    wlan_top::ViewState state;
    wlan_top::Rates rates;
    wlan_view::Snapshot snap;
    const int columns = static_cast<int>(wlan_top::station_columns().size());
    bool help = false;
    double next = 0;
    while (stop == 0) {
        if (now_s() >= next) {
            snap = wlan_view::take(opt);
            rates.update(snap, wlan_view::stations(snap, nullptr), wlan_view::radios(snap, nullptr));
            next = now_s() + period;
        }
        draw(wlan_top::layout(snap, rates, state, COLS, LINES), help, period);
        timeout(std::max(1, static_cast<int>((next - now_s()) * 1000)));
        const int ch = getch();
        if (ch == ERR)
            continue;  // time to refresh, or a signal
        if (help) {
            help = false;
            continue;
        }
        switch (ch) {
        case 'q':
        case 'Q':
            stop = -1;
            break;
        case '<':
        case '>':
            state.sort_column = (state.sort_column + (ch == '>' ? 1 : columns - 1)) % columns;
            // Figures read best largest first, texts in order.
            state.sort_descending = wlan_top::station_columns()[static_cast<std::size_t>(state.sort_column)].numeric;
            break;
        case '/':
            state.filter = ask_filter();
            break;
        case '?':
            help = true;
            break;
        default:
            break;  // a resize (KEY_RESIZE) or any other key: drawn anew
        }
    }
    endwin();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    wlan_view::Options opt;
    double period = 2;
    bool once = false, json = false;
    int width = 120;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has = i + 1 < argc;
        char *end = nullptr;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--once") {
            once = true;
        } else if (a == "--json") {
            json = true;
        } else if (wlan_view::take_source_option(opt, argc, argv, i)) {
        } else if (a == "-d" && has) {
            period = std::strtod(argv[++i], &end);
            if (*end != '\0' || !std::isfinite(period) || period < 0.1 || period > 3600) {
                std::fprintf(stderr, "wlan_top: -d takes 0.1 to 3600 seconds\n");
                return 2;
            }
        } else if (a == "-w" && has) {
            const long w = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || w < 0 || w > 1000) {
                std::fprintf(stderr, "wlan_top: -w takes 0 to 1000 columns\n");
                return 2;
            }
            width = static_cast<int>(w);
        } else {
            usage(stderr);
            return 2;
        }
    }
    // Before any bus connection and before curses: SIGTERM/SIGINT leave the
    // live view through its loop, which gives the terminal back.
    wlan_view::on_stop_signals(once || json ? nullptr : &stop);
    if (!once && !json)
        return live(opt, period);

    opt.event_lines = once ? 8 : 32;
    const wlan_view::Snapshot snap = wlan_view::take(opt);
    std::vector<std::string> problems = snap.problems;
    std::string out;
    if (json) {
        out = wlan_top::json(snap, problems);
    } else {
        wlan_top::Rates none;
        const wlan_top::Screen sc = wlan_top::layout(snap, none, wlan_top::ViewState{}, width, 0);
        problems = sc.problems;
        for (const std::string &l : sc.lines)
            out += l + "\n";
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        problems.push_back(std::string("cannot write the snapshot: ") + std::strerror(errno));
    for (const std::string &p : problems)
        std::fprintf(stderr, "wlan_top: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}
