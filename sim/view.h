// The demo's view of the access point: the status tables as aligned columns
// (whole, or what changed since the last look), the common log's lines and
// the "sta_leave" announcements on the bus. Everything here turns texts into
// texts; the player (player.h) reads the database and the files.
#ifndef SIM_VIEW_H
#define SIM_VIEW_H

#include <string>
#include <vector>

namespace sim {

// A status table as the demo shows it: the database table, the title and
// the fields shown, each under its heading.
struct TableView {
    std::string id;     // names its snapshot in the state folder
    std::string table;  // the database table
    std::string title;
    std::vector<std::pair<std::string, std::string>> columns;  // field, heading
};

// The four tables the demo shows, for the access point's MAC.
std::vector<TableView> status_tables(const std::string &ap_mac);

// A table's rows as shown: the key, then one cell per column ("-" for a field
// the key does not hold, "\"\"" for an empty value, control characters as '?',
// a station address dotted).
using Rows = std::vector<std::vector<std::string>>;

// Rows of VIEW from a `dbctl --json TABLE` reply ({key: {field: value}}).
// False, with *why, when the text is not such a reply.
bool rows_from_json(const TableView &view, const std::string &json, Rows *rows, std::string *why);

// A snapshot as kept in the state folder (tab-separated, a heading line
// first), and back.
std::string rows_text(const TableView &view, const Rows &rows);
Rows rows_of_text(const std::string &text);

// "--- title (table): ..." and the rows, fitting 120 columns (wide tables go
// on in further blocks, the key repeated). Without BEFORE: every row. With
// it: new (+), removed (-) and changed (~) rows, a changed cell ending in
// '*', and a table that did not change as one line.
std::string render_table(const TableView &view, const Rows *before, const Rows &now);

// Each "sta_leave" announcement among bus-event lines (`ubus -x listen`, the
// record in hex) as "sta_leave: MAC on IFNAME".
std::vector<std::string> leave_lines(const std::string &bus_lines);

// "--- common log: ..." and the last eight of LINES cut to the page: the
// lines since the last look, or, WHOLE, the log's last lines.
std::string log_section(const std::vector<std::string> &lines, bool whole);

// "--- bus: ..." and the last eight announcements among SHOWN, counting those
// among ALL (every bus event so far).
std::string bus_section(const std::string &shown, const std::string &all);

// A line of the demo's page: indented by four, folded at blanks to 120
// columns, further lines indented by two more.
std::string page_line(const std::string &text);

}  // namespace sim

#endif
