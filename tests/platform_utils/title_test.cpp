#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

std::map<std::string, std::string> run_probe(const std::string &args)
{
    const char *bin = getenv("RRM_BINARY_DIR");
    std::string cmd = "env -i PROBE_VAR=hello-world ";
    cmd += std::string(bin ? bin : ".") + "/tests/platform_utils/title_probe " + args;
    std::map<std::string, std::string> out;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return out;
    char line[8192];
    while (fgets(line, sizeof line, p)) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        auto eq = s.find('=');
        if (eq != std::string::npos)
            out[s.substr(0, eq)] = s.substr(eq + 1);
    }
    out["rc"] = std::to_string(pclose(p));
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
