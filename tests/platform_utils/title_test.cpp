#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "../common/proc.h"

namespace {

std::map<std::string, std::string> run_probe(const std::string &args)
{
    const char *bin = getenv("RRM_BINARY_DIR");
    std::string text;
    const int rc = proc::run("env -i PROBE_VAR=hello-world " + std::string(bin ? bin : ".") +
                                 "/tests/platform_utils/title_probe " + args, &text);
    std::map<std::string, std::string> out{{"rc", std::to_string(rc)}};
    std::istringstream in(text);
    for (std::string s; std::getline(in, s);)
        if (s.find('=') != std::string::npos)
            out[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    return out;
}

const char kUnseen[] = ", /proc/PID/cmdline (what ps shows) is the emulator's own copy of the "
                       "arguments, never the program's argument area (the written area was checked)";

}  // namespace

TEST(Title, PsShowsPrefixAndTextAndEnvironmentSurvives)
{
    auto r = run_probe("00:11:22:33:44:55 short");
    EXPECT_EQ(r["rc"], "0");
    EXPECT_EQ(r["area"], "probe: 00:11:22:33:44:55 running");
    EXPECT_EQ(r["env"], "hello-world");
    EXPECT_EQ(r["envp"], "PROBE_VAR=hello-world");
    EXPECT_EQ(r["arg"], "00:11:22:33:44:55");
    if (r.count("emulator"))
        GTEST_SKIP() << "under " << r["emulator"] << kUnseen;
    EXPECT_EQ(r["title"], r["area"]);
}

TEST(Title, OverlongTitleIsCutAndLeavesEnvironmentIntact)
{
    auto r = run_probe("abc long");
    EXPECT_EQ(r["rc"], "0");
    EXPECT_EQ(r["env"], "hello-world");
    EXPECT_EQ(r["arg"], "abc");
    const std::string &t = r["area"];
    ASSERT_GT(t.size(), 7u);
    EXPECT_EQ(t.substr(0, 7), "probe: ");
    EXPECT_LT(t.size(), 4000u);
    EXPECT_EQ(t.find_first_not_of('x', 7), std::string::npos);
    if (r.count("emulator"))
        GTEST_SKIP() << "under " << r["emulator"] << kUnseen;
    EXPECT_EQ(r["title"], t);
}
