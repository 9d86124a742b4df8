// The demo's view from captured snapshots: tables as the database tool
// prints them in, the screen out (views.txt).
#include "view.h"

#include "../common/transcript.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string view, was, now;
    bool whole = true;
    std::string bus, screen, want;
    std::vector<std::string> log;
};

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    for (size_t from = 0, nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        out.push_back(text.substr(from, nl - from));
    return out;
}

void check(Case &c)
{
    if (!c.view.empty()) {
        sim::TableView view;
        for (const sim::TableView &v : sim::status_tables("02:00:00:00:00:01"))
            if (v.id == c.view)
                view = v;
        ASSERT_FALSE(view.id.empty()) << c.view;
        sim::Rows was, now;
        std::string why;
        ASSERT_TRUE(sim::rows_from_json(view, c.now, &now, &why)) << why;
        ASSERT_TRUE(c.whole || sim::rows_from_json(view, c.was, &was, &why)) << why;
        c.screen += sim::render_table(view, c.whole ? nullptr : &was, now);
    }
    if (!c.log.empty())
        c.screen += sim::log_section(c.log, false);
    if (!c.bus.empty())
        c.screen += sim::bus_section(c.bus, c.bus);
    EXPECT_EQ(lines(c.screen), lines(c.want));
    c = Case{};
}

TEST(View, SnapshotsInScreenOut)
{
    Case c;
    transcript::play("sim/views.txt", {}, [&](const std::string &line) {
        const std::string word = line.substr(0, line.find(' ')), rest = line.substr(std::min(line.size(), word.size() + 1));
        if (word == "==")
            check(c);
        else if (word == "view")
            c.view = rest;
        else if (word == "was")
            c.was = rest, c.whole = false;
        else if (word == "now")
            c.now = rest;
        else if (word == "log")
            c.log.push_back(rest);
        else if (word == "bus")
            c.bus += rest + "\n";
        else if (word == "page")
            c.screen += sim::page_line(rest);
        else if (word == "|")
            c.want += rest + "\n";
        else
            ADD_FAILURE() << "unknown line";
    });
    check(c);
}

TEST(View, ASnapshotOtherThanATableIsRefused)
{
    const sim::TableView view = sim::status_tables("02:00:00:00:00:01").at(3);
    sim::Rows rows;
    std::string why;
    for (const char *bad : {"", "dbctl: no table 'Velora'", "{ \"k\": { \"F\": 1 } }", "{ \"k\": { \"F\": \"\\u0100\" } }",
                            "{ \"k\": {} } trailing", "{ \"k\": { \"F\": \"open"}) {
        EXPECT_FALSE(sim::rows_from_json(view, bad, &rows, &why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    // a snapshot kept in the state folder reads back as it was
    ASSERT_TRUE(sim::rows_from_json(view, "{ \"velora-status\": { \"CC_CONN\": \"1\" }, \"b\": {} }", &rows, &why));
    EXPECT_EQ(sim::rows_of_text(sim::rows_text(view, rows)), rows);
}

}  // namespace
