// The dbctl tool: the same words on the command line, the reply printed,
// a failure in the exit status, and tables for a person.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "../common/proc.h"
#include "statusdb_fixture.h"

namespace {

struct ToolRun {
    int status;
    std::string out;
};

// Runs dbctl with ARGS (already quoted for the shell; test texts only).
ToolRun dbctl(const std::string &args)
{
    ToolRun r{-1, {}};
    r.status = proc::run(std::string(DBCTL_PATH) + " " + args, &r.out);
    return r;
}

using Dbctl = StatusDb;

TEST_F(Dbctl, CreatesSetsGetsListsAndRemoves)
{
    EXPECT_EQ(dbctl("-a STA").out, "OK\n");
    EXPECT_EQ(dbctl("-t STA -i aa:bb:cc:00:00:01 -f IFACE -s wlan-1-1 -f SSID -s 'my net'").status, 0);
    EXPECT_EQ(dbctl("-t STA -i aa:bb:cc:00:00:02 -f IFACE -s wlan-2-1").status, 0);

    ToolRun get = dbctl("-t STA -k aa:bb:cc:00:00:01 -g SSID");
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "my net\n");
    EXPECT_EQ(dbctl("-t STA -k aa:bb:cc:00:00:01 -g NOPE").out, "N/A\n");
    EXPECT_EQ(dbctl("-t STA -f IFACE -l").out, "aa:bb:cc:00:00:01\tIFACE wlan-1-1\naa:bb:cc:00:00:02\tIFACE wlan-2-1\n");

    // What the tool wrote, the library reads.
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "STA", "-k", "aa:bb:cc:00:00:02", "-g", "IFACE", nullptr),
              0);
    EXPECT_STREQ(reply_, "wlan-2-1");

    EXPECT_EQ(dbctl("-t STA -r aa:bb:cc:00:00:01").status, 0);
    EXPECT_EQ(dbctl("-t STA -f IFACE -l").out, "aa:bb:cc:00:00:02\tIFACE wlan-2-1\n");

    ToolRun bad = dbctl("-t STA -k aa:bb:cc:00:00:09 -f IFACE -s x");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "dbctl: error: no key 'aa:bb:cc:00:00:09' in table 'STA'\n");
    EXPECT_EQ(dbctl("-q").status, 1);
    EXPECT_EQ(dbctl("").status, 2);
}

TEST_F(Dbctl, ShowsATableAsAlignedColumns)
{
    ASSERT_EQ(dbctl("-a WLAN -t WLAN -i SLOT-0 -f CHANNEL -s 36 -f TX_POWER -s 20").status, 0);
    ASSERT_EQ(dbctl("-t WLAN -i SLOT-1 -f CHANNEL -s 149").status, 0);
    ASSERT_EQ(dbctl("-t WLAN -i SLOT-2").status, 0);

    EXPECT_EQ(dbctl("--show WLAN").out,
              "WLAN (3 keys)\n"
              "KEY     CHANNEL  TX_POWER\n"
              "SLOT-0  36       20\n"
              "SLOT-1  149      -\n"
              "SLOT-2  -        -\n");
    EXPECT_EQ(dbctl("--show").out,
              "database: " + path_ + "\n"
              "TABLE   KEYS\n"
              "Velora  1\n"
              "WLAN    3\n");
    ToolRun missing = dbctl("--show NOPE");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "dbctl: no table 'NOPE'\n");
}

}  // namespace
