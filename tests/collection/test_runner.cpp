// The default command runner: output handed back as a stream, the wait
// status, and the bounds of time and memory.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "../common/proc.h"
#include "seam.h"

namespace {

std::string read_all(FILE *f)
{
    std::string s;
    for (int c; (c = fgetc(f)) != EOF;)
        s += static_cast<char>(c);
    return s;
}

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override { rrm_seam_reset(); }
    void TearDown() override
    {
        rrm_cmd_timeout_ms = 30000;
        rrm_cmd_output_max = 4u << 20;
    }
};

TEST_F(RunnerTest, HandsBackOutputAndStatusOfSeveralStreamsOpenAtOnce)
{
    FILE *a = rrm_cmd_open("printf 'one\\ntwo\\n'; exit 3", "r");
    FILE *b = rrm_cmd_open("echo b", "r");
    FILE *empty = rrm_cmd_open("true", "r");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(empty, nullptr) << "no output: an empty stream, not a failure";
    EXPECT_EQ(read_all(b), "b\n");
    char line[16];
    ASSERT_NE(fgets(line, sizeof line, a), nullptr);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(read_all(a), "two\n");
    EXPECT_TRUE(feof(a));
    EXPECT_EQ(fgetc(empty), EOF);
    int st = rrm_cmd_close(a);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 3);
    EXPECT_EQ(rrm_cmd_close(b), 0);
    EXPECT_EQ(rrm_cmd_close(empty), 0);

    // Only reading is offered.
    EXPECT_EQ(rrm_cmd_open("true", "w"), nullptr);
    EXPECT_EQ(rrm_cmd_close(nullptr), -1);
}

TEST_F(RunnerTest, HangingCommandIsEndedWithItsWholeGroup)
{
    const proc::TempDir tmp;
    const std::string pidfile = tmp.file("pid");
    rrm_cmd_timeout_ms = 300;
    // A child in the background keeps the output open; both must go.
    std::string cmd = "echo partial; sleep 30 & echo $! > " + pidfile + "; wait";
    FILE *f = rrm_cmd_open(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), "") << "a command that timed out printed nothing";
    rrm_cmd_close(f);

    pid_t bg = 0;
    std::ifstream(pidfile) >> bg;
    ASSERT_GT(bg, 0);
    EXPECT_TRUE(proc::wait_for([&] { return kill(bg, 0) != 0; }, 2000)) << "the background child was ended too";
}

TEST_F(RunnerTest, OutputIsBoundedInMemory)
{
    rrm_cmd_output_max = 1000;
    FILE *f = rrm_cmd_open("head -c 100000 /dev/zero | tr '\\0' x", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_all(f), std::string(1000, 'x'));
    EXPECT_EQ(rrm_cmd_close(f), 0);
}

}  // namespace
