#include "view.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "scenario.h"

namespace sim {

namespace {

constexpr size_t kPageWidth = 120;

// --- the database's JSON reply --------------------------------------------

using Fields = std::vector<std::pair<std::string, std::string>>;

// Reads the JSON that dbctl writes for one table: an object of objects of
// strings. \u00XX stands for the byte XX (dbctl writes bytes that are no
// part of valid UTF-8 that way).
class JsonReader {
public:
    explicit JsonReader(const std::string &text) : s_(text) {}

    bool table(std::vector<std::pair<std::string, Fields>> *out)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return end();
        do {
            std::string key;
            Fields fields;
            if (!string(&key) || !take(':') || !object(&fields))
                return false;
            out->emplace_back(std::move(key), std::move(fields));
        } while (take(','));
        return take('}') && end();
    }

private:
    const std::string &s_;
    size_t at_ = 0;

    void blanks()
    {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\t' || s_[at_] == '\r'))
            ++at_;
    }
    bool take(char c)
    {
        blanks();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool end()
    {
        blanks();
        return at_ == s_.size();
    }
    bool object(Fields *out)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            std::string k, v;
            if (!string(&k) || !take(':') || !string(&v))
                return false;
            out->emplace_back(std::move(k), std::move(v));
        } while (take(','));
        return take('}');
    }
    bool string(std::string *out)
    {
        if (!take('"'))
            return false;
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (at_ >= s_.size())
                return false;
            c = s_[at_++];
            static const std::string plain = "\"\\/", named = "bfnrt", meant = "\b\f\n\r\t";
            if (plain.find(c) != std::string::npos) {
                out->push_back(c);
            } else if (named.find(c) != std::string::npos) {
                out->push_back(meant[named.find(c)]);
            } else if (c == 'u' && at_ + 4 <= s_.size()) {
                char *end = nullptr;
                const std::string hex = s_.substr(at_, 4);
                const unsigned long u = strtoul(hex.c_str(), &end, 16);
                if (end != hex.c_str() + 4 || u > 0xff)
                    return false;  // dbctl writes only bytes this way
                out->push_back(static_cast<char>(u));
                at_ += 4;
            } else {
                return false;
            }
        }
        return take('"');
    }
};

// A value as the table view shows it: control characters as '?', trailing
// blanks dropped, an empty value as "".
std::string shown(const std::string &v)
{
    if (v.empty())
        return "\"\"";
    std::string out = v;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

// A station address is stored as the number whose bytes, lowest first, are
// the address.
std::string dotted(const std::string &v)
{
    const size_t sign = v.rfind('-', 0) == 0 ? 1 : 0;
    if (v.size() == sign || v.size() > 18 || v == "0" || v.find_first_not_of("0123456789", sign) != std::string::npos)
        return v;
    long long n = strtoll(v.c_str(), nullptr, 10);
    if (n < 0)
        n += 4294967296LL;
    char b[64];
    snprintf(b, sizeof b, "%lld.%lld.%lld.%lld", n % 256, n / 256 % 256, n / 65536 % 256, n / 16777216 % 256);
    return b;
}

std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        out.push_back(line.substr(from, tab - from));
    out.push_back(line.substr(from));
    return out;
}

std::string plural(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + (n == 1 ? one : many);
}

std::string padded(const std::string &s, size_t width)
{
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

}  // namespace

std::vector<TableView> status_tables(const std::string &ap_mac)
{
    return {
        {"sta", "STA_STATISTIC-" + ap_mac, "stations",
         {{"IFACE", "IFACE"}, {"SSID", "SSID"}, {"SECURITY", "SECURITY"}, {"AUTHENTICATION", "AUTH"},
          {"VID", "VID"}, {"STA_IP_ADDR", "IP"}, {"BAND", "BAND"}, {"STA_CHANNEL", "CH"},
          {"SIG_RSSI", "RSSI"}, {"TX_RATE", "TX-RATE"}, {"RX_RATE", "RX-RATE"}, {"TX", "TX"},
          {"RX", "RX"}, {"CHMODE", "CHMODE"}, {"DOT11_FEATURES", "PHY"},
          {"SSID_PROFILE_NAME", "SSID-PROFILE"}, {"SEC_PROFILE_NAME", "SEC-PROFILE"},
          {"STA_ASSO_FLAG", "NEW"}}},
        {"mesh", "MESH_STA_STATISTIC-" + ap_mac, "mesh stations",
         {{"IFACE", "IFACE"}, {"SSID", "SSID"}, {"SECURITY", "SECURITY"}, {"BAND", "BAND"},
          {"STA_CHANNEL", "CH"}, {"SIG_RSSI", "RSSI"}, {"TX_RATE", "TX-RATE"}, {"RX_RATE", "RX-RATE"},
          {"TX", "TX"}, {"RX", "RX"}, {"SSID_PROFILE_NAME", "SSID-PROFILE"},
          {"SEC_PROFILE_NAME", "SEC-PROFILE"}}},
        {"radio", "WLAN-" + ap_mac, "radios",
         {{"ACTIVATE", "ACTIVE"}, {"DCS_CHANNEL", "CHANNEL"}, {"CH_WIDTH", "WIDTH"},
          {"EXT_OFFSET", "OFFSET"}, {"TX_POWER", "TX-POWER"}, {"CH_UTIL", "UTIL"},
          {"TX_FRAME_CNT", "TX-FRAMES"}, {"RX_FRAME_CNT", "RX-FRAMES"}, {"TX_BYTE_PER_SEC", "TX-B/S"},
          {"RX_BYTE_PER_SEC", "RX-B/S"}, {"TX_FRAME_BYTES", "TX-BYTES"}, {"RX_FRAME_BYTES", "RX-BYTES"},
          {"TX_ERR_RATE", "TX-ERR%"}, {"RX_ERR_RATE", "RX-ERR%"}, {"VAP_0_MAC", "VAP-1"},
          {"VAP_1_MAC", "VAP-2"}}},
        {"cloud", "Velora", "cloud status",
         {{"CC_CONN", "CC_CONN"}, {"operating-status", "operating-status"}}},
    };
}

bool rows_from_json(const TableView &view, const std::string &json, Rows *rows, std::string *why)
{
    std::vector<std::pair<std::string, Fields>> keys;
    if (!JsonReader(json).table(&keys)) {
        *why = "not a table of the status database: " + json.substr(0, 60);
        return false;
    }
    rows->clear();
    for (const auto &[key, fields] : keys) {
        std::vector<std::string> row{shown(key)};
        for (const auto &[field, heading] : view.columns) {
            auto it = std::find_if(fields.begin(), fields.end(), [&](const auto &f) { return f.first == field; });
            const std::string v = it == fields.end() ? "-" : shown(it->second);
            row.push_back(field == "STA_IP_ADDR" ? dotted(v) : v);
        }
        rows->push_back(std::move(row));
    }
    return true;
}

std::string rows_text(const TableView &view, const Rows &rows)
{
    std::string out = "KEY";
    for (const auto &c : view.columns)
        out += "\t" + c.second;
    out += "\n";
    for (const auto &row : rows) {
        for (size_t i = 0; i < row.size(); ++i)
            out += (i ? "\t" : "") + row[i];
        out += "\n";
    }
    return out;
}

Rows rows_of_text(const std::string &text)
{
    Rows rows;
    size_t from = text.find('\n');  // after the heading line
    while (from != std::string::npos && from + 1 < text.size()) {
        const size_t end = text.find('\n', from + 1);
        rows.push_back(split_tabs(text.substr(from + 1, end == std::string::npos ? std::string::npos : end - from - 1)));
        from = end;
    }
    return rows;
}

std::string render_table(const TableView &view, const Rows *before, const Rows &now)
{
    const bool diff = before != nullptr;
    std::vector<std::string> head{"KEY"};
    for (const auto &c : view.columns)
        head.push_back(c.second);
    const size_t nh = head.size();

    std::map<std::string, const std::vector<std::string> *> was, is;
    if (diff)
        for (const auto &r : *before)
            was[r[0]] = &r;
    for (const auto &r : now)
        is[r[0]] = &r;

    struct Line {
        char mark;
        std::vector<std::string> cells;
    };
    std::vector<Line> lines;
    auto add = [&](char mark, const std::vector<std::string> &row, const std::vector<std::string> *old) {
        Line l{mark, {}};
        for (size_t i = 0; i < nh; ++i) {
            const std::string a = i < row.size() ? row[i] : "";
            std::string v = a.empty() ? "-" : a;
            if (old && a != (i < old->size() ? (*old)[i] : ""))
                v += "*";
            l.cells.push_back(v);
        }
        lines.push_back(std::move(l));
    };
    size_t added = 0, changed = 0, removed = 0, same = 0;
    for (const auto &row : now) {
        auto it = was.find(row[0]);
        if (!diff)
            add(' ', row, nullptr);
        else if (it == was.end())
            add('+', row, nullptr), ++added;
        else if (*it->second != row)
            add('~', row, it->second), ++changed;
        else
            ++same;
    }
    if (diff)
        for (const auto &row : *before)
            if (!is.count(row[0]))
                add('-', row, nullptr), ++removed;

    std::string out = "--- " + view.title + " (" + view.table + "): ";
    if (!diff) {
        out += now.empty() ? "empty" : plural(now.size(), " row", " rows");
    } else if (lines.empty()) {
        return out + "no change" + (same ? ", " + plural(same, " row", " rows") : ", empty") + "\n";
    } else {
        std::string s;
        if (added)
            s += ", " + std::to_string(added) + " new";
        if (changed)
            s += ", " + std::to_string(changed) + " changed";
        if (removed)
            s += ", " + std::to_string(removed) + " removed";
        if (same)
            s += ", " + std::to_string(same) + " unchanged";
        out += s.substr(2);
    }
    out += "\n";
    if (lines.empty())
        return out;

    std::vector<size_t> width(nh);
    for (size_t i = 0; i < nh; ++i) {
        width[i] = head[i].size();
        for (const Line &l : lines)
            width[i] = std::max(width[i], l.cells[i].size());
    }
    auto line = [&](const Line *l, size_t from, size_t to) {
        std::string s = "    ";
        if (diff)
            s += std::string(1, l ? l->mark : ' ') + " ";
        s += padded(l ? l->cells[0] : head[0], width[0]);
        for (size_t i = from; i < to; ++i)
            s += "  " + padded(l ? l->cells[i] : head[i], width[i]);
        s.erase(s.find_last_not_of(' ') + 1);
        out += s + "\n";
    };
    // Blocks of columns fitting the page, each with the key first.
    for (size_t i = 1, j; i < nh; i = j) {
        size_t used = 4 + (diff ? 2 : 0) + width[0];
        for (j = i; j < nh && (j == i || used + 2 + width[j] <= kPageWidth); ++j)
            used += 2 + width[j];
        line(nullptr, i, j);
        for (const Line &l : lines)
            line(&l, i, j);
    }
    return out;
}

std::vector<std::string> leave_lines(const std::string &bus_lines)
{
    static const std::string tag = "\"sta_leave\":\"";
    std::vector<std::string> out;
    size_t from = 0;
    while (from < bus_lines.size()) {
        size_t end = bus_lines.find('\n', from);
        if (end == std::string::npos)
            end = bus_lines.size();
        const std::string line = bus_lines.substr(from, end - from);
        from = end + 1;
        const size_t at = line.rfind(tag);
        if (at == std::string::npos)
            continue;
        const size_t start = at + tag.size(), stop = line.find('"', start);
        const std::string hex = line.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
        if (stop == std::string::npos || hex.empty() || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
            continue;
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
        auto notice = decode_leave(bytes);
        if (!notice)
            continue;
        std::string ifname = notice->ifname;
        for (char &c : ifname)
            if (c <= 32 || c >= 127)
                c = '?';
        out.push_back("sta_leave: " + mac_text(notice->mac) + " on " + ifname);
    }
    return out;
}

std::string log_section(const std::vector<std::string> &lines, bool whole)
{
    if (lines.empty())
        return "--- common log: no new line\n";
    std::string out = whole ? "--- common log: last lines\n" : "--- common log: " + std::to_string(lines.size()) + " new\n";
    for (size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i)
        out += "    " + lines[i].substr(0, kPageWidth - 6) + "\n";
    return out;
}

std::string bus_section(const std::string &shown, const std::string &all)
{
    size_t total = 0;
    for (size_t from = 0; from < all.size();) {
        size_t nl = all.find('\n', from);
        if (nl == std::string::npos)
            nl = all.size();
        total += all.substr(from, nl - from).find("{ \"sta_leave\":") != std::string::npos;
        from = nl + 1;
    }
    const std::vector<std::string> leaves = leave_lines(shown);
    if (leaves.empty())
        return "--- bus: no new \"sta_leave\" announcement (" + std::to_string(total) + " so far)\n";
    std::string out = "--- bus: " + std::to_string(leaves.size()) + " \"sta_leave\" announcement(s) (" +
                      std::to_string(total) + " so far)\n";
    for (size_t i = leaves.size() > 8 ? leaves.size() - 8 : 0; i < leaves.size(); ++i)
        out += "    " + leaves[i] + "\n";
    return out;
}

std::string page_line(const std::string &text)
{
    // Folded as `fold -s` does: at the last blank within the width, the blank
    // kept at the end of the line.
    constexpr size_t width = kPageWidth - 6;
    std::string out, rest = text;
    bool first = true;
    while (true) {
        std::string piece = rest;
        if (rest.size() > width) {
            const size_t blank = rest.find_last_of(" \t", width - 1);
            piece = rest.substr(0, blank == std::string::npos ? width : blank + 1);
        }
        out += (first ? "    " : "      ") + piece + "\n";
        first = false;
        rest.erase(0, piece.size());
        if (rest.empty())
            return out;
    }
}

}  // namespace sim
