#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sched.h>

#include "../common/proc.h"
#include "platform_utils.h"

TEST(IfMac, LoopbackAnswersAndMissingOrOverlongNamesGiveZeros)
{
    // Sixteen characters do not fit the request's name field.
    const std::string huge(5000, 'l');
    const struct {
        const char *name;
        int rc;
    } cases[] = {{"lo", 0}, {"nosuch-if9", -1}, {"abcdefghijklmnop", -1}, {huge.c_str(), -1}, {"", -1}, {nullptr, -1}};
    for (const auto &c : cases) {
        unsigned char mac[6];
        memset(mac, 0xaa, sizeof mac);
        EXPECT_EQ(capwapUtlGetIfMAC(c.name, mac), c.rc) << (c.name ? c.name : "null");
        for (unsigned char b : mac)
            EXPECT_EQ(b, 0) << (c.name ? c.name : "null");
    }
}

// In a private network namespace, an interface given a known address is read
// back exactly.
TEST(IfMac, ReadsTheAddressOfARealInterface)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a private network namespace";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0)
            _exit(77);
        const char *make =
            "ip link add t0 address 02:11:22:3a:4b:5c type dummy 2>/dev/null || "
            "ip link add t0 address 02:11:22:3a:4b:5c type veth peer name t1 2>/dev/null";
        if (system(make) != 0)
            _exit(77);
        unsigned char mac[6];
        if (capwapUtlGetIfMAC("t0", mac) != 0)
            _exit(1);
        char text[MAC_STR_LEN];
        mac2str(mac, text);
        _exit(strcmp(text, "02:11:22:3a:4b:5c") == 0 ? 0 : 2);
    }
    const int status = proc::wait_exit(pid);
    if (status == 77)
        GTEST_SKIP() << "no private network namespace with a virtual interface here";
    EXPECT_EQ(status, 0);
}
