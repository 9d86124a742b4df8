#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

#include "../common/proc.h"
#include "common_log.h"

namespace {

class CommonLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = base_.file("nested/logs");  // created on first use
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }
    void TearDown() override { unsetenv("COMMON_LOG_DIR"); }
    std::vector<std::string> lines(const std::string &name) { return proc::lines(dir_ + "/" + name); }
    off_t size_of(const std::string &name)
    {
        struct stat st;
        return stat((dir_ + "/" + name).c_str(), &st) == 0 ? st.st_size : -1;
    }
    proc::TempDir base_;
    std::string dir_;
};

}  // namespace

TEST_F(CommonLog, OneStampedLineACallWithTheTextAsData)
{
    EXPECT_EQ(common_log("WLAN_MODULE_DB_LOG", 51200, "WLAN MODULE START !"), 0);
    EXPECT_EQ(common_log("WLAN_MODULE_DB_LOG", 51200, "%s%n%x two\nlines\n"), 0);
    auto l = lines("WLAN_MODULE_DB_LOG");
    ASSERT_EQ(l.size(), 2u);
    // "YYYY-MM-DD HH:MM:SS " then the text.
    ASSERT_GT(l[0].size(), 20u);
    EXPECT_EQ(l[0][4], '-');
    EXPECT_EQ(l[0][13], ':');
    EXPECT_EQ(l[0].substr(20), "WLAN MODULE START !");
    EXPECT_EQ(l[1].substr(20), "%s%n%x two lines");
}

TEST_F(CommonLog, FileRestartsBeforeItWouldPassTheSizeAndKeepsOneOlderCopy)
{
    const int limit = 300;
    std::string text(40, 'a');  // 61 bytes a line with stamp and line end
    for (int i = 0; i < 20; ++i) {
        text[0] = static_cast<char>('A' + i);
        ASSERT_EQ(common_log("SMALL", limit, text.c_str()), 0);
        EXPECT_LE(size_of("SMALL"), limit);
    }
    auto cur = lines("SMALL");
    auto old = lines("SMALL.1");
    ASSERT_FALSE(cur.empty());
    ASSERT_EQ(old.size(), 4u);  // four 61-byte lines fit in 300
    // The newest line is last in the current file; the older copy holds the
    // lines just before the current file's first one.
    EXPECT_EQ(cur.back()[20], 'A' + 19);
    EXPECT_EQ(old.back()[20] + 1, cur.front()[20]);
    EXPECT_FALSE(std::ifstream(dir_ + "/SMALL.2").good());
}

TEST_F(CommonLog, BadNamesAreRefusedAndNothingEscapesTheFolder)
{
    for (const char *name : {static_cast<const char *>(nullptr), "", "../escape", "a/b", ".."})
        EXPECT_EQ(common_log(name, 100, "x"), -1) << (name ? name : "(null)");
    EXPECT_FALSE(std::ifstream(base_.file("nested/escape")).good());
    // A null text still gives a stamped line.
    EXPECT_EQ(common_log("EMPTY", 100, nullptr), 0);
    EXPECT_EQ(lines("EMPTY").size(), 1u);
}

TEST_F(CommonLog, UnwritableFolderGivesAnError)
{
    std::string file = base_.file("plain");
    std::ofstream(file) << "x";
    setenv("COMMON_LOG_DIR", file.c_str(), 1);
    EXPECT_EQ(common_log("LOG", 100, "x"), -1);
}

TEST_F(CommonLog, ConcurrentWritersLeaveWholeLinesAcrossRestarts)
{
    // Four writers, a size that forces several restarts: every line in both
    // files is one whole line of one writer, never a mix.
    const int per_thread = 150;
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([w] {
            std::string text(60, static_cast<char>('a' + w));
            for (int i = 0; i < per_thread; ++i)
                common_log("SHARED", 4096, text.c_str());
        });
    }
    for (auto &t : writers)
        t.join();
    auto cur = lines("SHARED");
    auto old = lines("SHARED.1");
    EXPECT_LE(size_of("SHARED"), 4096);
    EXPECT_FALSE(old.empty());
    cur.insert(cur.end(), old.begin(), old.end());
    for (const auto &l : cur) {
        ASSERT_EQ(l.size(), 80u) << l;
        EXPECT_EQ(l.substr(20), std::string(60, l[20])) << l;
    }
}
