// Radio statistics of one slot through the command seam: the exact command
// texts, the sums over the radio's interfaces and the error rates.
#include <string>
#include <tuple>
#include <vector>

#include "collection_fakes.h"
#include "conf_init.h"
#include "wlan_hvd.h"

namespace {

const std::string kWireless1 = "cat /proc/net/wireless | sed '1,2d' | grep \".*-1-.*\" | head -n1";
const std::string kWireless2 = "cat /proc/net/wireless | sed '1,2d' | grep \".*-2-.*\" | head -n1";
const std::string kTxPower1 = "iwlist wlan-1-1 txpower | grep Tx-Power | sed 's/:/=/g' | cut -d '=' -f 2";
const std::string kChUtil1 =
    "LD_LIBRARY_PATH=/usr/local/lib iwpriv wlan-1-1 get_chutil | awk -F\":\" '{printf $2}'";
const std::string kCli = "/bin/hvsh -p 110 -e \"show interface wlan status\"";
const std::string kNetDev = "/bin/cat /proc/net/dev";

// Headers, the radio's two interfaces, another radio's; a sub-interface.
const std::string kCliTable = "Idx Interface Status TxFrames RxFrames Dummy TxBps RxBps\n---\n"
                              "1 wlan-1-1 Up 900 1000 0 100 200\n2 wlan-1-2 Down 100 0 0 10 20\n"
                              "3 wlan-10-1 Up 5555 5555 0 5555 5555\n";
const std::string kNetDevText = "Inter-| Receive | Transmit\n face |bytes packets errs ...\n"
                                "wlan-1-1: 1000 10 6 0 0 0 0 0 2000 20 50 0 0 0 0 0\n"
                                "wlan-1-1.10: 99999 1 99 0 0 0 0 0 99999 1 99 0 0 0 0 0\n"
                                "wlan-1-2: 500 5 4 0 0 0 0 0 700 7 50 0 0 0 0 0\n";

using RadioTest = CollectionTest;

TEST_F(RadioTest, GathersASlotWithTheExactCommandTexts)
{
    shell_.out[kWireless1] = "  wlan-1-1: 0000   60.  -35.  -95.  0 0 0 0 0 0\n";
    shell_.out[kTxPower1] = "20 dBm\n";
    shell_.out[kCli] = kCliTable;
    shell_.out[kNetDev] = kNetDevText;
    shell_.out[kChUtil1] = "37";
    capwapWlanStatis_t r{};
    retrieve_wlan_stat(0, &r);

    // The interface name keeps the blanks "/proc/net/wireless" puts before it.
    const std::string tx_power = "iwlist   wlan-1-1 txpower | grep Tx-Power | sed 's/:/=/g' | cut -d '=' -f 2";
    const std::string ch_util =
        "LD_LIBRARY_PATH=/usr/local/lib iwpriv   wlan-1-1 get_chutil | awk -F\":\" '{printf $2}'";
    EXPECT_EQ(take_commands(), (std::vector<std::string>{kWireless1, tx_power, kCli, kNetDev, kWireless1, ch_util}));

    // The sums and rates are checked end to end (tests/e2e/cases/collection.*).
    EXPECT_EQ(r.txBytes, 2700u) << "a sub-interface is not counted";
    // The host has no radio driver: the request is refused and tolerated.
    EXPECT_EQ(r.fcsErrCnt, 0u);
}

TEST_F(RadioTest, TransmitPowerAndUtilisationOfTheFirstInterfaceLine)
{
    shell_.out[kWireless1] = "wlan-1-1: 0000 1 2 3\n";
    shell_.out[kTxPower1] = "23 dBm\n";
    capwapWlanStatis_t r{};
    EXPECT_EQ(capwapWlanGetDriverTxPower(0, &r), 0);
    EXPECT_EQ(r.txPower, 23u);
    // A number, output without one (0, a success), no output (0, a failure).
    const std::tuple<const char *, int, unsigned> cases[] = {{"12xyz", 0, 12}, {"busy", 0, 0}, {"", -1, 0}};
    for (auto [out, ret, util] : cases) {
        shell_.out[kChUtil1] = out;
        r.chUtil = 5;
        EXPECT_EQ(capwapWlanGetDriverChUtil(0, &r), ret) << out;
        EXPECT_EQ(r.chUtil, util) << out;
    }
    // The setting names the tool; an unsafe setting is never run.
    char *saved = DOT11_ATH_IWPRIV;
    DOT11_ATH_IWPRIV = const_cast<char *>("/opt/iwpriv2");
    take_commands();
    capwapWlanGetDriverChUtil(0, &r);
    EXPECT_EQ(take_commands().back(),
              "LD_LIBRARY_PATH=/usr/local/lib /opt/iwpriv2 wlan-1-1 get_chutil | awk -F\":\" '{printf $2}'");
    DOT11_ATH_IWPRIV = const_cast<char *>("iwpriv; reboot");
    EXPECT_EQ(capwapWlanGetDriverChUtil(0, &r), -1);
    EXPECT_EQ(take_commands(), std::vector<std::string>{kWireless1});
    DOT11_ATH_IWPRIV = saved;
}

TEST_F(RadioTest, RadioWithoutInterfaceOrWithAnUnsafeNameLeavesPowerAndUtilisationZero)
{
    // No interface line; a name that could carry shell syntax (refused like
    // a failed start); a first command that cannot be started.
    const std::tuple<const char *, int, bool> cases[] = {
        {"", 0, true}, {"wlan-2-1;reboot: 0000\n", -1, true}, {"wlan-2-1: 0000\n", -1, false}};
    for (auto [line, util_ret, startable] : cases) {
        shell_.out[kWireless2] = line;
        if (!startable)
            shell_.unstartable.push_back(kWireless2);
        capwapWlanStatis_t r{};
        EXPECT_EQ(capwapWlanGetDriverTxPower(1, &r), 0) << line;
        EXPECT_EQ(capwapWlanGetDriverChUtil(1, &r), util_ret) << line;
        EXPECT_EQ(take_commands(), (std::vector<std::string>{kWireless2, kWireless2})) << line;
        EXPECT_EQ(r.txPower, 0u);
        EXPECT_EQ(r.chUtil, 0u);
    }
}

TEST_F(RadioTest, InterfaceTableFailureAndEmptyOutput)
{
    // No CLI output: /proc/net/dev is still read; rates stay 0 without frames.
    shell_.out[kNetDev] = kNetDevText;
    capwapWlanStatis_t r{};
    EXPECT_EQ(capwapWlanGetDriverStatistic(0, &r), 0);
    EXPECT_EQ(r.txBytes, 2700u);
    EXPECT_EQ(r.rx_err_rate, 0u);
    EXPECT_EQ(r.tx_err_rate, 0u);

    // A CLI that cannot be started ends the operation at once.
    capwapWlanStatis_t s{};
    shell_.unstartable.push_back(kCli);
    take_commands();
    EXPECT_EQ(capwapWlanGetDriverStatistic(0, &s), -2);
    EXPECT_EQ(take_commands(), std::vector<std::string>{kCli});
    EXPECT_EQ(s.txBytes, 0u);

    shell_.unstartable = {kNetDev};
    shell_.out[kCli] = kCliTable;
    capwapWlanStatis_t t{};
    EXPECT_EQ(capwapWlanGetDriverStatistic(0, &t), -2);
    EXPECT_EQ(t.txFrameCnt, 1000u);
    EXPECT_EQ(t.txBytes, 0u);
}

TEST_F(RadioTest, DriverRequestRefusedIsTracedWithItsNumber)
{
    enable_trace(true);
    capwapWlanStatis_t r{};
    EXPECT_EQ(capwapWlanGetDriverCounter(0, &r), -1);
    std::string t = trace_text();
    EXPECT_NE(t.find("wlan_module: capwapWlanGetDriverCounter:"), std::string::npos) << t;
    EXPECT_NE(t.find("Get radio statistics error , ifr wifi0 , ioctl id 35839 , err "), std::string::npos) << t;
}

}  // namespace
