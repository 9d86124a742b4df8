// wlan_metrics: the access point's station, mesh-station and radio figures
// and the daemon's counters in the Prometheus text format, on standard
// output (fit for a CGI) or as DIR/wlan.prom for node_exporter's textfile
// collector, written atomically, once or every N seconds.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exposition.h"
#include "wlan_view.h"

namespace {

volatile sig_atomic_t stop = 0;

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: wlan_metrics [--db FILE] [--ap MAC] [-s SOCKET] [--no-stations]\n"
                 "                    [--textfile DIR [--every SECONDS]]\n"
                 "  prints the Prometheus text exposition (0.0.4) of the status database's\n"
                 "  station, mesh-station and radio tables and of the daemon's counters;\n"
                 "  --textfile writes DIR/wlan.prom atomically instead (node_exporter's\n"
                 "  textfile collector), --every again every SECONDS until SIGTERM/SIGINT.\n"
                 "  --no-stations leaves out the per-station series.\n"
                 "  database: --db, else $STATUSDB_PATH, else /tmp/statusdb.sqlite\n"
                 "  exit status: 0 all read, 1 something could not be read (one line each on\n"
                 "  standard error), 2 bad usage\n");
}

// Writes TEXT to DIR/wlan.prom through a temporary file in DIR and a rename,
// so a reader never sees half a file.
bool write_textfile(const std::string &dir, const std::string &text, std::string &error)
{
    std::string tmp = dir + "/.wlan.prom.XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = "cannot write in " + dir + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == text.size() && fchmod(fd, 0644) == 0 && close(fd) == 0;
    if (!ok || rename(tmp.c_str(), (dir + "/wlan.prom").c_str()) != 0) {
        error = "cannot write " + dir + "/wlan.prom: " + std::strerror(errno);
        if (done != text.size() || !ok)
            close(fd);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    wlan_view::Options opt;
    opt.event_lines = 0;
    bool stations = true;
    std::string textfile;
    long every = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has = i + 1 < argc;
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--no-stations") {
            stations = false;
        } else if (wlan_view::take_source_option(opt, argc, argv, i)) {
        } else if (a == "--textfile" && has) {
            textfile = argv[++i];
        } else if (a == "--every" && has) {
            char *end = nullptr;
            every = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || every < 1 || every > 86400) {
                std::fprintf(stderr, "wlan_metrics: --every takes 1 to 86400 seconds\n");
                return 2;
            }
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (every > 0 && textfile.empty()) {
        std::fprintf(stderr, "wlan_metrics: --every needs --textfile\n");
        return 2;
    }
    if (!textfile.empty()) {
        struct stat st;
        if (stat(textfile.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "wlan_metrics: %s is not a folder\n", textfile.c_str());
            return 2;
        }
    }
    // Before any bus connection: SIGTERM/SIGINT end a repeating run
    // between two writes, or a single one at once.
    wlan_view::on_stop_signals(every > 0 ? &stop : nullptr);

    std::string last_problems;
    for (;;) {
        wlan_view::Snapshot snap = wlan_view::take(opt);
        const std::string text = wlan_metrics::exposition(snap, stations, &snap.problems);
        std::string error;
        if (textfile.empty()) {
            if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
                snap.problems.push_back(std::string("cannot write the exposition: ") + std::strerror(errno));
        } else if (!write_textfile(textfile, text, error)) {
            snap.problems.push_back(error);
        }
        // A repeating run says a problem once, and again after it went away.
        std::string problems;
        for (const std::string &p : snap.problems)
            problems += "wlan_metrics: " + p + "\n";
        if (every == 0 || problems != last_problems)
            std::fputs(problems.c_str(), stderr);
        last_problems = problems;
        if (every == 0)
            return snap.problems.empty() ? 0 : 1;
        timespec pause = {every, 0};
        while (stop == 0 && nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
        if (stop != 0)
            return 0;
    }
}
