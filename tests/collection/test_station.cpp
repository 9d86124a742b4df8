// Station statistics retrieval through the command seam and an in-memory
// database: the driver listing on the recorded VAP and the all-VAP scan, the
// address fallback, and the profile lookup once per association.
#include <string.h>

#include <string>
#include <vector>

#include "collection_fakes.h"
#include "conf_init.h"
#include "wlan_hvd.h"

namespace {

const std::string kMac = "aa:bb:cc:dd:ee:01";
const std::string kList12 = "wlanconfig wlan-1-2 list sta limited 2>/dev/null";
const std::string kListWds = "wlanconfig wds-1-9 list sta limited 2>/dev/null";
const std::string kVapList = "/lib/wifi/get_active_vap_list 2>/dev/null";
const std::string kAddr =
    "hvsh -p 100 -e \"show wireless-hal station info\" | grep -i \"aa:bb:cc:dd:ee:01\" -A 3 \t\t\t| grep IPv4 | "
    "cut -d ':' -f 2 | sed -e 's/^[[:space:]]*//' |  awk 1 ORS=''";
const std::string kConf11 = "/bin/hvsh -p 110 -e \"show wlan-1-1 config\"";
const std::string kWds1 = "/bin/hvsh -p 110 -e \"configure terminal show wds slot1 detail\"";

std::string row(const std::string &mac, int signal)
{
    return mac + " 1 36 866M 780M " + std::to_string(signal) + " 0 0 1000 2000 HE80 x 11ax\n";
}

const std::string kVapConf =
    "  SSID: office\n  SSID_profile: prof-office\n  Security: WPA2-PSK\n  Security_profile: sec-office\n";

class StationTest : public CollectionTest {
protected:
    void SetUp() override
    {
        CollectionTest::SetUp();
        strcpy(iface_, "wlan-1-1");
    }
    int retrieve(int mesh = 0)
    {
        memset(&s_, 0, sizeof s_);
        s_.wlan_tmp = iface_;
        std::string m = kMac;
        return retrieve_sta_statistic_stat(m.data(), &s_, mesh, iface_);
    }
    staInfo_t s_;
    char iface_[17];
};

// The figures written and the profiles found are checked end to end
// (tests/e2e/cases/collection.*); here, the exact commands and database requests.
TEST_F(StationTest, ListedOnItsVapOrFoundByTheScanOfWlanVapsOnly)
{
    shell_.out[kList11] = kHeader + row("aa:bb:cc:dd:ee:02", 10) + row("AA:BB:CC:DD:EE:01", 41);
    db_.put(kSta, kMac, "STA_IP_ADDR", "167772165");
    db_.put(kSta, kMac, "STA_ASSO_FLAG", "0");
    EXPECT_EQ(retrieve(), 1);
    EXPECT_EQ(take_commands(), std::vector<std::string>{kList11});
    EXPECT_EQ(s_.sigRSSI, 41) << "the recorded VAP's value is taken as printed";
    EXPECT_EQ(db_.take(), (std::vector<Words>{
                              {"dbctl", "-t", kSta, "-k", kMac, "-g", "STA_IP_ADDR"},
                              {"dbctl", "-t", kSta, "-k", kMac, "-g", "STA_ASSO_FLAG"},
                          }));

    // Only "wlan" VAPs are scanned, and the scan stops at the first match.
    shell_.out[kList11] = kHeader + row("aa:bb:cc:dd:ee:09", 10);
    shell_.out[kVapList] = "wds-1-9\npap-1-11\nwlan-1-2\nwlan-2-1\n";
    shell_.out[kList12] = kHeader + row(kMac, 40);
    EXPECT_EQ(retrieve(), 1);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kList11, kVapList, kList12}));
    EXPECT_EQ(s_.sigRSSI, 40 - 95);
}

TEST_F(StationTest, NotListedAnywhereOrNotSafeToListWritesNothing)
{
    shell_.out[kVapList] = "wlan-1-1\nwlan-1-2\n";
    EXPECT_EQ(retrieve(), 0);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kList11, kVapList, kList11, kList12}));
    EXPECT_TRUE(db_.take().empty());

    // A listing that cannot be started: not found, and no scan.
    shell_.unstartable.push_back(kList11);
    EXPECT_EQ(retrieve(), 0);
    EXPECT_EQ(take_commands(), std::vector<std::string>{kList11});

    // A recorded interface that is not safe is treated the same, never run.
    shell_.unstartable.clear();
    shell_.out[kList11] = kHeader + row(kMac, 40);
    strcpy(iface_, "wlan;reboot");
    EXPECT_EQ(retrieve(), 0);
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(StationTest, AddressFallbackForms)
{
    shell_.out[kList11] = kHeader + row(kMac, 40);
    shell_.out[kAddr] = "10.0.0.5";
    db_.put(kSta, kMac, "STA_ASSO_FLAG", "0");
    // Not recorded ("N/A"): looked up and written as the little-endian word.
    EXPECT_EQ(retrieve(), 1);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kList11, kAddr}));
    EXPECT_EQ(db_.get(kSta, kMac, "STA_IP_ADDR"), "83886090");
    // "0" runs the lookup again; a shell printing nothing or no address writes "0".
    for (const char *printed : {"", "not an address"}) {
        db_.put(kSta, kMac, "STA_IP_ADDR", "0");
        shell_.out[kAddr] = printed;
        retrieve();
        EXPECT_EQ(take_commands(), (std::vector<std::string>{kList11, kAddr}));
        EXPECT_EQ(db_.get(kSta, kMac, "STA_IP_ADDR"), "0");
    }
    // A known address is left alone.
    db_.put(kSta, kMac, "STA_IP_ADDR", "16777226");
    retrieve();
    EXPECT_EQ(take_commands(), std::vector<std::string>{kList11});
}

TEST_F(StationTest, ProfileLookupOncePerAssociationAndAnUnknownSecurityKeepsTheShells)
{
    shell_.out[kList11] = kHeader + row(kMac, 40);
    shell_.out[kConf11] = kVapConf;
    db_.put(kSta, kMac, "STA_IP_ADDR", "16777226");
    db_.put(kSta, kMac, "STA_ASSO_FLAG", "1");
    db_.put(kSta, kMac, "SECURITY", "NONE");
    EXPECT_EQ(retrieve(), 1);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kList11, kConf11}));
    auto cmds = db_.take();
    ASSERT_EQ(cmds.size(), 4u);
    EXPECT_EQ(cmds[3], (Words{"dbctl", "-t", kSta, "-k", kMac, "-f", "SECURITY", "-s", "Open", "-f",
                              "SSID_PROFILE_NAME", "-s", "prof-office", "-f", "SEC_PROFILE_NAME", "-s", "sec-office",
                              "-f", "STA_ASSO_FLAG", "-s", "0"}));
    EXPECT_EQ(s_.radioId, 1);
    EXPECT_EQ(s_.wlanIndex, 1);
    // The flag is now "0": the next pass asks the shell nothing.
    retrieve();
    EXPECT_EQ(take_commands(), std::vector<std::string>{kList11});

    db_.put(kSta, kMac, "STA_ASSO_FLAG", "1");
    db_.put(kSta, kMac, "SECURITY", "WEP-weird");
    retrieve();
    EXPECT_EQ(db_.get(kSta, kMac, "SECURITY"), "WPA2-PSK");
    EXPECT_EQ(db_.get(kSta, kMac, "STA_ASSO_FLAG"), "0");
}

TEST_F(StationTest, MeshStationIsAlwaysListedAndUsesTheMeshLinkDetailInHybridMode3)
{
    strcpy(iface_, "wds-1-9");
    db_.put(kMesh, kMac, "STA_IP_ADDR", "1");
    db_.put(kMesh, kMac, "STA_ASSO_FLAG", "1");
    // Driver does not list it, hybrid mode 0: no lookup.
    EXPECT_EQ(retrieve(1), 1);
    EXPECT_EQ(take_commands(), std::vector<std::string>{kListWds});

    setenv("HVKIT_HYBRID_MODE", "3", 1);
    shell_.out[kListWds] = kHeader + row(kMac, 30);
    shell_.out[kWds1] = "  WDS_SSID: bh\n  WDS_profile: wp\n  Security: WPA2-PSK\n  Security_profile: ws\n";
    EXPECT_EQ(retrieve(1), 1);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kListWds, kWds1}));
    EXPECT_EQ(s_.sigRSSI, 30) << "a mesh station's signal is taken as printed";
    EXPECT_EQ(db_.get(kMesh, kMac, "SSID_PROFILE_NAME"), " wp");
    EXPECT_EQ(db_.get(kMesh, kMac, "STA_ASSO_FLAG"), "0");
}

}  // namespace
