// Scenario files: the directives read line by line into the model of the
// access point and the steps of its timeline.
#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

constexpr int kMaxSlots = 16;

struct Word {
    std::string text;
};

// Splits a line into blank-separated words. A double-quoted stretch keeps its
// blanks (the quotes themselves are kept only inside conf lines, which are
// taken verbatim). A '#' at the start of a word begins a comment.
bool split_words(const std::string &line, std::vector<std::string> *out, std::string *why)
{
    out->clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string w;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            if (line[i] == '"') {
                quoted = !quoted;
                w.push_back('"');
            } else {
                w.push_back(line[i]);
            }
            ++i;
        }
        if (quoted) {
            *why = "unterminated double quote";
            return false;
        }
        out->push_back(w);
    }
    return true;
}

// Removes the quotes of a word: office="a b" -> office=a b.
std::string unquote(const std::string &w)
{
    std::string r;
    for (char c : w)
        if (c != '"')
            r.push_back(c);
    return r;
}

bool printable_text(const std::string &s, size_t max_len)
{
    if (s.size() > max_len)
        return false;
    for (unsigned char c : s)
        if (c < 0x20 || c >= 0x7f || c == '\\')
            return false;
    return true;
}

// A word-safe text: what the tools print as one column.
bool column_text(const std::string &s, size_t max_len)
{
    if (s.empty() || s.size() > max_len)
        return false;
    for (unsigned char c : s)
        if (!(isalnum(c) || c == '.' || c == '-' || c == '_' || c == '+' || c == '/'))
            return false;
    return true;
}


bool parse_u64(const std::string &s, uint64_t *out)
{
    if (s.empty() || s.size() > 20)
        return false;
    for (char c : s)
        if (!isdigit(static_cast<unsigned char>(c)))
            return false;
    errno = 0;
    unsigned long long v = strtoull(s.c_str(), nullptr, 10);
    if (errno != 0)
        return false;
    *out = v;
    return true;
}

struct Failure {
    std::string reason;
};

// key=value options of one directive; every key must be consumed.
class Options {
public:
    Options(const std::vector<std::string> &words, size_t from)
    {
        for (size_t i = from; i < words.size(); ++i) {
            std::string w = unquote(words[i]);
            size_t eq = w.find('=');
            if (eq == std::string::npos || eq == 0)
                throw Failure{"expected key=value, got '" + w + "'"};
            std::string k = w.substr(0, eq);
            if (values_.count(k))
                throw Failure{"option '" + k + "' given twice"};
            values_[k] = w.substr(eq + 1);
            order_.push_back(k);
        }
    }
    bool take(const std::string &k, std::string *v)
    {
        auto it = values_.find(k);
        if (it == values_.end())
            return false;
        *v = it->second;
        values_.erase(it);
        return true;
    }
    void take_text(const std::string &k, std::string *v, size_t max_len)
    {
        std::string t;
        if (!take(k, &t))
            return;
        if (!printable_text(t, max_len))
            throw Failure{k + ": not a printable text of at most " + std::to_string(max_len) +
                          " characters (no backslash)"};
        *v = t;
    }
    void take_column(const std::string &k, std::string *v, size_t max_len)
    {
        std::string t;
        if (!take(k, &t))
            return;
        if (!column_text(t, max_len))
            throw Failure{k + ": '" + t + "' is not one word of at most " +
                          std::to_string(max_len) + " characters"};
        *v = t;
    }
    template <typename T>
    void take_int(const std::string &k, T *v, long lo, long hi)
    {
        std::string t;
        if (!take(k, &t))
            return;
        long x = 0;
        if (!parse_long(t, lo, hi, &x))
            throw Failure{k + ": '" + t + "' is not a number from " + std::to_string(lo) +
                          " to " + std::to_string(hi)};
        *v = static_cast<T>(x);
    }
    void take_u64(const std::string &k, uint64_t *v)
    {
        std::string t;
        if (!take(k, &t))
            return;
        if (!parse_u64(t, v))
            throw Failure{k + ": '" + t + "' is not an unsigned number"};
    }
    void finish() const
    {
        for (const auto &k : order_)
            if (values_.count(k))
                throw Failure{"unknown option '" + k + "'"};
    }

private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> order_;
};

Mac need_mac(const std::string &w, const char *what)
{
    Mac m{};
    if (!parse_mac(w, &m))
        throw Failure{std::string("bad ") + what + " MAC address '" + w + "'"};
    return m;
}

std::string need_ifname(const std::string &w)
{
    if (!valid_ifname(w))
        throw Failure{"bad interface name '" + w +
                      "' (1 to 15 letters, digits, '-', '_' or '.')"};
    return w;
}

void need_words(const std::vector<std::string> &w, size_t min_n, const char *usage)
{
    if (w.size() < min_n)
        throw Failure{std::string("too few words; usage: ") + usage};
}


int parse_band(const std::string &s)
{
    if (s == "2.4" || s == "2.4g" || s == "2g")
        return 0;
    if (s == "5" || s == "5g")
        return 1;
    if (s == "6" || s == "6g")
        return 2;
    if (s == "none" || s == "unknown")
        return -1;
    long v = 0;
    if (parse_long(s, -128, 127, &v))
        return static_cast<int>(v);
    throw Failure{"band: '" + s + "' is not 2.4, 5, 6, none or a number"};
}


class Compiler {
public:
    Plan plan;

    void line(int no, const std::vector<std::string> &w)
    {
        const std::string &d = w[0];
        if (d == "step") {
            begin_step(no, w);
            return;
        }
        bool in_timeline = !plan.steps.empty();
        if (d == "title") {
            std::string t;
            for (size_t i = 1; i < w.size(); ++i)
                t += (i > 1 ? " " : "") + unquote(w[i]);
            if (!printable_text(t, 120))
                throw Failure{"title: not a printable text of at most 120 characters"};
            plan.title = t;
        } else if (d == "ap") {
            header_only(in_timeline, d);
            need_words(w, 2, "ap <mac>");
            if (!m().ap_mac.empty())
                throw Failure{"the access point's MAC is given twice"};
            m().ap_mac = mac_text(need_mac(w[1], "access point"));
            no_more(w, 2);
        } else if (d == "slots") {
            header_only(in_timeline, d);
            need_words(w, 2, "slots <count>");
            long v = 0;
            if (!parse_long(w[1], 0, kMaxSlots, &v))
                throw Failure{"slots: '" + w[1] + "' is not a count from 0 to 16"};
            m().slots = static_cast<int>(v);
            no_more(w, 2);
        } else if (d == "hybrid") {
            header_only(in_timeline, d);
            need_words(w, 2, "hybrid <mode>");
            long v = 0;
            if (!parse_long(w[1], 0, 255, &v))
                throw Failure{"hybrid: '" + w[1] + "' is not a mode from 0 to 255"};
            m().hybrid = static_cast<int>(v);
            no_more(w, 2);
        } else if (d == "clock") {
            header_only(in_timeline, d);
            need_words(w, 2, "clock <YYYY-MM-DD HH:MM:SS> | clock <seconds since the Epoch>");
            std::string t;
            for (size_t i = 1; i < w.size(); ++i)
                t += (i > 1 ? " " : "") + unquote(w[i]);
            if (!parse_clock(t, &m().clock_base))
                throw Failure{"clock: '" + t + "' is not YYYY-MM-DD HH:MM:SS or a number of seconds"};
        } else if (d == "vap") {
            header_only(in_timeline, d);
            vap(w);
        } else if (d == "radio") {
            radio(w);
        } else if (d == "counters") {
            counters(w);
        } else if (d == "conf") {
            conf(w);
        } else if (d == "wds") {
            wds(w);
        } else if (!in_timeline) {
            if (is_event(d))
                throw Failure{"'" + d + "' belongs to the timeline: start a step first"};
            throw Failure{"unknown directive '" + d + "'"};
        } else {
            event(w);
        }
    }

    void finish()
    {
        if (m().ap_mac.empty())
            throw Failure{"no 'ap <mac>' line"};
        // what the last step changed shows once it is over
        if (!plan.steps.empty())
            snapshot_if_dirty();
    }

    // Called once the header is done (at the first step or at the end).
    void seal_header()
    {
        if (sealed_)
            return;
        sealed_ = true;
        if (m().ap_mac.empty())
            throw Failure{"no 'ap <mac>' line before the timeline"};
        plan.initial = m();
        plan.snapshots.push_back(render_fixtures(m()));
        dirty_ = false;
    }

private:
    Model model_;
    bool sealed_ = false;
    bool dirty_ = false;
    bool conf_dirty_ = false;
    long last_time_ = 0;

    Model &m() { return model_; }

    static bool is_event(const std::string &d)
    {
        static const char *names[] = {"assoc", "authorize", "ip",   "roam",  "leave",
                                      "vanish", "driver",   "channel", "ssid-change",
                                      "link",  "cloud",     "pass", "note"};
        for (const char *n : names)
            if (d == n)
                return true;
        return false;
    }

    void header_only(bool in_timeline, const std::string &d)
    {
        if (in_timeline)
            throw Failure{"'" + d + "' describes the access point and must come before the first step"};
    }

    static void no_more(const std::vector<std::string> &w, size_t n)
    {
        if (w.size() > n)
            throw Failure{"unexpected word '" + w[n] + "'"};
    }

    // A change of the access point within the timeline needs a new snapshot.
    void touch() { dirty_ = sealed_ ? true : dirty_; }

    int need_radio(const std::string &s)
    {
        long r = 0;
        if (!parse_long(s, 1, kMaxSlots, &r))
            throw Failure{"radio: '" + s + "' is not a radio number from 1 to 16"};
        return static_cast<int>(r);
    }

    void vap(const std::vector<std::string> &w)
    {
        need_words(w, 4, "vap <name> <mac> up|down [ssid=..] [ssid-profile=..] [security=..] [sec-profile=..]");
        Vap v;
        v.name = need_ifname(w[1]);
        if (m().find_vap(v.name))
            throw Failure{"VAP '" + v.name + "' declared twice"};
        v.mac = need_mac(w[2], "VAP");
        if (w[3] == "up")
            v.up = true;
        else if (w[3] == "down")
            v.up = false;
        else
            throw Failure{"VAP state must be up or down, not '" + w[3] + "'"};
        Options o(w, 4);
        o.take_text("ssid", &v.ssid, 32);
        o.take_text("ssid-profile", &v.ssid_profile, 40);
        o.take_text("security", &v.security, 40);
        o.take_text("sec-profile", &v.sec_profile, 40);
        o.finish();
        m().vaps.push_back(v);
    }

    void radio(const std::vector<std::string> &w)
    {
        need_words(w, 2, "radio <n> [channel=..] [txpower=..] [chutil=..]");
        int r = need_radio(w[1]);
        Radio &rd = m().radios[r];
        Options o(w, 2);
        o.take_int("channel", &rd.channel, 0, 255);
        o.take_int("txpower", &rd.txpower, -100, 100);
        o.take_int("chutil", &rd.chutil, 0, 100);
        o.finish();
        touch();
    }

    void counters(const std::vector<std::string> &w)
    {
        need_words(w, 2, "counters <vap> [tx-frames=..] [rx-frames=..] [tx-bps=..] [rx-bps=..] [tx-bytes=..] [rx-bytes=..] [tx-errs=..] [rx-errs=..]");
        Vap *v = m().find_vap(need_ifname(w[1]));
        if (!v)
            throw Failure{"counters: no VAP named '" + w[1] + "'"};
        Options o(w, 2);
        o.take_u64("tx-frames", &v->counters.tx_frames);
        o.take_u64("rx-frames", &v->counters.rx_frames);
        o.take_u64("tx-bps", &v->counters.tx_bps);
        o.take_u64("rx-bps", &v->counters.rx_bps);
        o.take_u64("tx-bytes", &v->counters.tx_bytes);
        o.take_u64("rx-bytes", &v->counters.rx_bytes);
        o.take_u64("tx-errs", &v->counters.tx_errs);
        o.take_u64("rx-errs", &v->counters.rx_errs);
        o.finish();
        touch();
    }

    void conf(const std::vector<std::string> &w)
    {
        need_words(w, 3, "conf <radio> KEY=\"VALUE\"");
        int r = need_radio(w[1]);
        no_more(w, 3);
        const std::string &kv = w[2];
        size_t eq = kv.find('=');
        if (eq == std::string::npos || eq == 0)
            throw Failure{"conf: expected KEY=\"VALUE\", got '" + kv + "'"};
        std::string key = kv.substr(0, eq);
        for (unsigned char c : key)
            if (!(isalnum(c) || c == '_'))
                throw Failure{"conf: bad key '" + key + "' (letters, digits and '_')"};
        if (!printable_text(kv, 200))
            throw Failure{"conf: not a printable line of at most 200 characters"};
        auto &lines = m().conf[r];
        auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string &l) {
            return l.compare(0, key.size() + 1, key + "=") == 0;
        });
        if (it != lines.end())
            *it = kv;
        else
            lines.push_back(kv);
        touch();
        conf_dirty_ = sealed_;
    }

    void wds(const std::vector<std::string> &w)
    {
        need_words(w, 2, "wds <radio> [ssid=..] [profile=..] [security=..] [sec-profile=..]");
        int r = need_radio(w[1]);
        Wds &x = m().wds[r];
        Options o(w, 2);
        o.take_text("ssid", &x.ssid, 32);
        o.take_text("profile", &x.profile, 40);
        o.take_text("security", &x.security, 40);
        o.take_text("sec-profile", &x.sec_profile, 40);
        o.finish();
        touch();
    }

    void begin_step(int no, const std::vector<std::string> &w)
    {
        seal_header();
        // what the previous step changed shows once it is over
        if (!plan.steps.empty())
            snapshot_if_dirty();
        need_words(w, 2, "step <time> [title]");
        long t = 0;
        if (!parse_time(w[1], &t))
            throw Failure{"bad time '" + w[1] + "' (seconds, m:ss or h:mm:ss)"};
        if (!plan.steps.empty() && t < last_time_)
            throw Failure{"time " + w[1] + " goes back before the previous step"};
        last_time_ = t;
        Step s;
        s.line = no;
        s.time_s = t;
        for (size_t i = 2; i < w.size(); ++i)
            s.title += (i > 2 ? " " : "") + unquote(w[i]);
        if (!printable_text(s.title, 120))
            throw Failure{"step title: not a printable text of at most 120 characters"};
        plan.steps.push_back(s);
    }

    // A pass reads every fixture; an event reads only the configuration
    // files (security lookup), so it needs a fresh snapshot only after those
    // changed.
    void snapshot_if_dirty()
    {
        if (!dirty_)
            return;
        plan.snapshots.push_back(render_fixtures(m()));
        emit(Action::Fixtures, {std::to_string(plan.snapshots.size() - 1)});
        dirty_ = false;
        conf_dirty_ = false;
    }

    void snapshot_for_event()
    {
        if (conf_dirty_)
            snapshot_if_dirty();
    }

    void emit(Action::Kind k, std::vector<std::string> args, std::vector<uint8_t> record = {})
    {
        plan.steps.back().actions.push_back(Action{k, std::move(args), std::move(record)});
    }

    Station &station(const Mac &mac)
    {
        if (Station *s = m().find_station(mac))
            return *s;
        Station s;
        s.mac = mac;
        m().stations.push_back(s);
        return m().stations.back();
    }

    Station &known_station(const std::string &w)
    {
        Mac mac = need_mac(w, "station");
        Station *s = m().find_station(mac);
        if (!s)
            throw Failure{"station " + mac_text(mac) + " has not appeared yet"};
        return *s;
    }

    void assoc_options(Options &o, Station &s)
    {
        o.take_text("ssid", &s.ssid, 32);
        o.take_text("security", &s.security, 31);
        o.take_int("vid", &s.vid, 0, 4095);
        o.take_int("auth", &s.auth, 0, 255);
        std::string b;
        if (o.take("band", &b))
            s.band = parse_band(b);
        o.take_int("rssi", &s.rssi, -128, 127);
        o.take_int("channel", &s.channel, 0, 255);
    }

    int channel_of(const Station &s, const std::string &iface)
    {
        if (s.channel)
            return s.channel;
        auto it = m().radios.find(radio_of(iface));
        return it == m().radios.end() ? 0 : it->second.channel;
    }

    void publish_assoc(const Station &s, const std::string &iface)
    {
        emit(Action::Assoc, {mac_text(s.mac), iface, s.ssid, s.security,
                           std::to_string(s.vid), std::to_string(s.auth), std::to_string(s.band),
                           std::to_string(s.rssi), std::to_string(channel_of(s, iface))});
    }

    void event(const std::vector<std::string> &w)
    {
        const std::string &d = w[0];
        if (d == "assoc" || d == "roam") {
            need_words(w, 3, "assoc|roam <station> <iface> [ssid=..] [security=..] [band=..] [rssi=..] [channel=..] [vid=..] [auth=..] [listed=yes|no]");
            Mac mac = need_mac(w[1], "station");
            std::string iface = need_ifname(w[2]);
            if (d == "roam" && !m().find_station(mac))
                throw Failure{"roam: station " + mac_text(mac) + " has not associated"};
            if (!m().find_vap(iface))
                throw Failure{d + ": no VAP named '" + iface + "' (declare it with a 'vap' line)"};
            Station &s = station(mac);
            std::string old = s.assoc_iface;
            if (d == "roam" && old == iface)
                throw Failure{"roam: station is already on " + iface};
            Options o(w, 3);
            assoc_options(o, s);
            std::string listed = "yes";
            o.take("listed", &listed);
            if (listed != "yes" && listed != "no")
                throw Failure{"listed: must be yes or no"};
            o.finish();
            s.assoc_iface = iface;
            s.associated = true;
            s.iface = listed == "yes" ? iface : "";
            dirty_ = true;
            snapshot_for_event();
            publish_assoc(s, iface);
            if (d == "roam" && !old.empty())
                emit(Action::Disassoc, {mac_text(mac), old});
        } else if (d == "authorize") {
            need_words(w, 3, "authorize <station> <iface> [security=..] [vid=..] [auth=..]");
            Mac mac = need_mac(w[1], "station");
            std::string iface = need_ifname(w[2]);
            Station &s = station(mac);
            s.auth = 1;
            Options o(w, 3);
            o.take_text("security", &s.security, 31);
            o.take_int("vid", &s.vid, 0, 4095);
            o.take_int("auth", &s.auth, 0, 255);
            o.finish();
            snapshot_for_event();
            emit(Action::Ubus,
                 {"sta_authorized", mac_text(mac) + " on " + iface + ", security " + s.security +
                                        ", vid " + std::to_string(s.vid)},
                 station_record(iface, s, {0, 0, 0, 0}));
        } else if (d == "ip") {
            need_words(w, 4, "ip <station> <iface> <a.b.c.d>");
            no_more(w, 4);
            Mac mac = need_mac(w[1], "station");
            std::string iface = need_ifname(w[2]);
            std::array<uint8_t, 4> ip{};
            if (!parse_ipv4(w[3], &ip))
                throw Failure{"bad IPv4 address '" + w[3] + "'"};
            Station *known = m().find_station(mac);
            if (!known || !known->associated)
                throw Failure{"ip: station " + mac_text(mac) + " has not associated"};
            Station &s = *known;
            s.ip = w[3];
            dirty_ = true;
            snapshot_for_event();
            emit(Action::Ubus, {"sta_ip", mac_text(mac) + " on " + iface + ": address " + w[3]},
                 station_record(iface, s, ip));
        } else if (d == "leave") {
            need_words(w, 2, "leave <station> [<iface>]");
            no_more(w, 3);
            // A station never seen may leave from a named interface.
            Station &s = w.size() > 2 ? station(need_mac(w[1], "station")) : known_station(w[1]);
            std::string iface = w.size() > 2 ? need_ifname(w[2]) : s.assoc_iface;
            if (iface.empty())
                throw Failure{"leave: the station has no interface; name one"};
            s.iface.clear();
            if (iface == s.assoc_iface)
                s.assoc_iface.clear();
            dirty_ = true;
            snapshot_for_event();
            emit(Action::Disassoc, {mac_text(s.mac), iface});
        } else if (d == "vanish") {
            need_words(w, 2, "vanish <station>");
            no_more(w, 2);
            Station &s = known_station(w[1]);
            s.iface.clear();
            dirty_ = true;
        } else if (d == "driver") {
            need_words(w, 2, "driver <station> [iface=..|none] [txrate=..] [rxrate=..] [snr=..] [tx=..] [rx=..] [bandcap=..] [mode=..] [channel=..] [ip=..|none]");
            Station &s = station(need_mac(w[1], "station"));
            Options o(w, 2);
            std::string v;
            if (o.take("iface", &v))
                s.iface = v == "none" ? "" : need_ifname(v);
            o.take_column("txrate", &s.txrate, 20);
            o.take_column("rxrate", &s.rxrate, 20);
            o.take_int("snr", &s.snr, -200, 200);
            o.take_u64("tx", &s.tx);
            o.take_u64("rx", &s.rx);
            o.take_column("bandcap", &s.bandcap, 30);
            o.take_column("mode", &s.mode, 30);
            o.take_int("channel", &s.channel, 0, 255);
            if (o.take("ip", &v)) {
                std::array<uint8_t, 4> ip{};
                if (v != "none" && !parse_ipv4(v, &ip))
                    throw Failure{"ip: bad IPv4 address '" + v + "'"};
                s.ip = v == "none" ? "" : v;
            }
            o.finish();
            dirty_ = true;
        } else if (d == "channel") {
            need_words(w, 3, "channel <iface> <channel> [offset=..] [width=..] [band=..] [vht1=..] [vht2=..]");
            std::string iface = need_ifname(w[1]);
            long ch = 0;
            if (!parse_long(w[2], 0, 255, &ch))
                throw Failure{"channel: '" + w[2] + "' is not a channel from 0 to 255"};
            int offset = 0, width = 20, vht1 = 0, vht2 = 0, band = ch > 14 ? 1 : 0;
            Options o(w, 3);
            o.take_int("offset", &offset, -128, 127);
            o.take_int("width", &width, 0, 65535);
            o.take_int("vht1", &vht1, 0, 255);
            o.take_int("vht2", &vht2, 0, 255);
            std::string b;
            if (o.take("band", &b))
                band = parse_band(b);
            o.finish();
            int r = radio_of(iface);
            if (r >= 1 && r <= kMaxSlots) {
                m().radios[r].channel = static_cast<int>(ch);
                // the driver lists the radio's stations on the new channel
                for (Station &s : m().stations)
                    if (!s.iface.empty() && radio_of(s.iface) == r)
                        s.channel = static_cast<int>(ch);
                dirty_ = true;
            }
            snapshot_for_event();
            emit(Action::Ubus,
                 {"channel_changed", iface + ": channel " + w[2] + ", width " + std::to_string(width) +
                                         (offset ? ", offset " + std::to_string(offset) : "")},
                 channel_record(iface, static_cast<int>(ch), offset, vht1, vht2, band, width));
        } else if (d == "ssid-change") {
            no_more(w, 2);
            std::string iface = w.size() > 1 ? need_ifname(w[1]) : "wlan-1-1";
            snapshot_for_event();
            emit(Action::Ubus, {"ssid", iface + ": VAP addresses to be read again"},
                 channel_record(iface, 0, 0, 0, 0, -1, 0));
        } else if (d == "link") {
            need_words(w, 3, "link <vap> up|down");
            no_more(w, 3);
            Vap *v = m().find_vap(need_ifname(w[1]));
            if (!v)
                throw Failure{"link: no VAP named '" + w[1] + "'"};
            if (w[2] != "up" && w[2] != "down")
                throw Failure{"link: state must be up or down, not '" + w[2] + "'"};
            v->up = w[2] == "up";
            dirty_ = true;
            emit(Action::Link, {v->name, w[2]});
        } else if (d == "cloud") {
            need_words(w, 2, "cloud online|offline|claim|declaim");
            no_more(w, 2);
            if (w[1] != "online" && w[1] != "offline" && w[1] != "claim" && w[1] != "declaim")
                throw Failure{"cloud: '" + w[1] + "' is not online, offline, claim or declaim"};
            emit(Action::Cloud, {w[1]});
        } else if (d == "pass") {
            no_more(w, 2);
            long n = 1;
            if (w.size() > 1 && !parse_long(w[1], 1, 1000, &n))
                throw Failure{"pass: '" + w[1] + "' is not a count from 1 to 1000"};
            snapshot_if_dirty();
            emit(Action::Pass, {std::to_string(n)});
        } else if (d == "note") {
            std::string t;
            for (size_t i = 1; i < w.size(); ++i)
                t += (i > 1 ? " " : "") + unquote(w[i]);
            if (!printable_text(t, 200))
                throw Failure{"note: not a printable text of at most 200 characters"};
            emit(Action::Note, {t});
        } else {
            throw Failure{"unknown directive '" + d + "'"};
        }
    }
};

}  // namespace

std::optional<Plan> compile_scenario(const std::string &text, ScenarioError *err)
{
    Compiler c;
    std::istringstream in(text);
    std::string line;
    int no = 0;
    try {
        while (std::getline(in, line)) {
            ++no;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            for (unsigned char ch : line)
                if ((ch < 0x20 && ch != '\t') || ch == 0x7f)
                    throw Failure{"control character in line"};
            std::vector<std::string> words;
            std::string why;
            if (!split_words(line, &words, &why))
                throw Failure{why};
            if (words.empty())
                continue;
            c.line(no, words);
        }
        no = 0;
        c.seal_header();
        c.finish();
    } catch (const Failure &f) {
        if (err) {
            err->line = no;
            err->reason = f.reason;
        }
        return std::nullopt;
    }
    return std::move(c.plan);
}

}  // namespace sim