// Scenario files of the simulated access point: parsing, checking and
// compiling into a plan that the player (sim/player.h) walks.
//
// A scenario describes the access point (its MAC, radio slots, VAPs, the WLAN
// configuration files, what the device shell and the driver show) and a
// timeline of steps (stations associating, being authorised, getting an
// address, roaming, leaving or vanishing from the driver, channel changes,
// cloud-peer messages, collection passes). sim/README.md documents the format.
#ifndef SIM_SCENARIO_H
#define SIM_SCENARIO_H

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// One refused line: its number (0 for the file as a whole) and the reason.
struct ScenarioError {
    int line = 0;
    std::string reason;
};

using Mac = std::array<uint8_t, 6>;

struct Counters {
    uint64_t tx_frames = 0, rx_frames = 0, tx_bps = 0, rx_bps = 0;
    uint64_t tx_bytes = 0, rx_bytes = 0, tx_errs = 0, rx_errs = 0;
};

struct Vap {
    std::string name;
    Mac mac{};
    bool up = true;
    std::string ssid, ssid_profile, security, sec_profile;
    Counters counters;
};

struct Radio {
    int channel = 0;
    int txpower = 20;
    int chutil = 0;
};

struct Wds {
    std::string ssid, profile, security, sec_profile;
};

// What the access point knows of one station: the driver's listing, the
// shell's station table, and the last association's attributes.
struct Station {
    Mac mac{};
    std::string iface;         // where the driver lists it; empty: not listed
    std::string assoc_iface;   // interface of its last association
    bool associated = false;   // has associated at least once
    std::string ip;            // address the device shell shows; empty: none
    int channel = 0;
    std::string txrate = "144M", rxrate = "130M";
    int snr = 40;              // signal column of the driver listing
    uint64_t tx = 0, rx = 0;
    std::string bandcap = "HE20";
    std::string mode = "11ax";
    // last association / authorisation attributes
    std::string ssid, security = "WPA2-PSK";
    int vid = 1, auth = 0, band = 0, rssi = -50;
};

// One action of a step, its words already in their final textual form:
//   Fixtures  {snapshot number}: the access point's tools answer from it
//   Assoc     {mac, iface, ssid, security, vid, auth, band, rssi, channel}
//   Disassoc  {mac, iface}            (station-event library)
//   Cloud     {online|offline|claim|declaim}
//   Ubus      {event name, whom and what it is about} and the record sent
//   Link      {vap, up|down}
//   Pass      {count}
//   Note      {text}
struct Action {
    enum Kind { Fixtures, Assoc, Disassoc, Cloud, Ubus, Link, Pass, Note } kind = Note;
    std::vector<std::string> args;
    std::vector<uint8_t> record;  // Ubus: the wifi manager's record
};

struct Step {
    int line = 0;
    long time_s = 0;
    std::string title;
    std::vector<Action> actions;
};

// The access point and its state at the start (the header of the file).
struct Model {
    std::string ap_mac;  // canonical lower-case text
    int slots = 1;
    int hybrid = 0;
    long long clock_base = -1;  // scenario clock at time 0 (seconds since the Epoch); -1: real time
    std::vector<Vap> vaps;
    std::map<int, Radio> radios;
    std::map<int, std::vector<std::string>> conf;  // radio -> KEY="VALUE" lines
    std::map<int, Wds> wds;
    std::vector<Station> stations;  // in order of first appearance

    Vap *find_vap(const std::string &name);
    Station *find_station(const Mac &mac);
};

// A compiled scenario: the initial model, the rendered fixture snapshots and
// the ordered steps. Snapshot 0 is the state before the first step.
struct Plan {
    std::string title;
    Model initial;
    std::vector<std::map<std::string, std::string>> snapshots;  // path -> content
    std::vector<Step> steps;
};

// Parses and checks a whole scenario text. On the first error nothing is
// returned and *err tells the line and the reason.
std::optional<Plan> compile_scenario(const std::string &text, ScenarioError *err);

// Renders every fixture file of the access point from a model.
std::map<std::string, std::string> render_fixtures(const Model &m);

// Text helpers, shared with the tests.
bool parse_long(const std::string &s, long lo, long hi, long *out);
// Radio number of an interface name such as wlan-2-1 or wds-1-9; 0 when none.
int radio_of(const std::string &ifname);
bool parse_mac(const std::string &s, Mac *out);
std::string mac_text(const Mac &m);
bool valid_ifname(const std::string &s);
bool parse_ipv4(const std::string &s, std::array<uint8_t, 4> *out);
bool parse_time(const std::string &s, long *seconds);
// "YYYY-MM-DD HH:MM:SS" (UTC) or a plain count of seconds since the Epoch.
bool parse_clock(const std::string &s, long long *epoch);
std::string shell_quote(const std::string &s);

// The wifi manager's 640-byte event record, as carried on the bus; its layout
// is the daemon's declaration of it (records.cpp), nowhere typed again.
constexpr size_t kEventRecordSize = 640;
std::vector<uint8_t> station_record(const std::string &ifname, const Station &st,
                                    const std::array<uint8_t, 4> &ip);
std::vector<uint8_t> channel_record(const std::string &ifname, int channel, int offset,
                                    int vht1, int vht2, int band, int width);
// What a "sta_leave" record announces: the interface's name as recorded (up
// to its 16 bytes) and the station's MAC. Nothing for an empty record.
struct LeaveNotice {
    std::string ifname;
    Mac mac{};
};
std::optional<LeaveNotice> decode_leave(const std::vector<uint8_t> &bytes);

}  // namespace sim

#endif
