// The debug trace file: the flag file switches it, entries carry the time
// stamp and the caller's name and line, the file restarts at its size limit
// and is never written through a symbolic link.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "collection_fakes.h"
#include "wlan_hvd.h"

namespace {

using TraceTest = CollectionTest;

// ctime of the fake clock (1700000000), without its newline.
std::string stamp()
{
    time_t t = 1700000000;
    char buf[64];
    ctime_r(&t, buf);
    buf[strcspn(buf, "\n")] = '\0';
    return buf;
}

int evaluated;
int count_evaluation()
{
    ++evaluated;
    return 7;
}

void traced_function() { WLAN_MODULE_DEBUG("value %d\n", count_evaluation()); }

TEST_F(TraceTest, FlagFileSwitchesTracingAndArgumentsAreNotEvaluatedWhileOff)
{
    evaluated = 0;
    traced_function();
    EXPECT_EQ(evaluated, 0);
    EXPECT_NE(access(trace_file_.c_str(), F_OK), 0) << "no trace file is created while off";

    enable_trace(true);
    traced_function();
    EXPECT_EQ(evaluated, 1);
    const std::string text = trace_text();
    const std::string head = std::string("[").append(stamp()).append("]wlan_module: traced_function:");
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_NE(text.find(" : value 7\n"), std::string::npos) << text;

    enable_trace(false);
    traced_function();
    EXPECT_EQ(trace_text(), text) << "turning tracing off leaves the file as it is";
}

TEST_F(TraceTest, RestartsAtTheSizeLimitWithTheBanner)
{
    const std::string banner = "####### Debug file too large, overwrite it #######\n\r";
    std::ofstream(trace_file_, std::ios::binary) << std::string(DBG_FILE_SIZE - 1, 'x');
    debug_log_to_file("one\n");
    std::string text = trace_text();
    EXPECT_EQ(text.size(), DBG_FILE_SIZE - 1 + stamp().size() + 2 + 4) << "appended below the limit";

    std::ofstream(trace_file_, std::ios::binary | std::ios::trunc) << std::string(DBG_FILE_SIZE, 'x');
    debug_log_to_file("two %d\n", 2);
    EXPECT_EQ(trace_text(), banner + "[" + stamp() + "]two 2\n");

    // An entry without a line end runs on into the next one.
    debug_log_to_file("a");
    debug_log_to_file("b\n");
    EXPECT_EQ(trace_text(), banner + "[" + stamp() + "]two 2\n[" + stamp() + "]a[" + stamp() + "]b\n");
}

TEST_F(TraceTest, NeverWritesThroughASymbolicOrHardLink)
{
    const std::string victim = dir_ + "/victim";
    std::ofstream(victim) << "keep";
    ASSERT_EQ(symlink(victim.c_str(), trace_file_.c_str()), 0);
    debug_log_to_file("through the link\n");
    EXPECT_EQ(proc::slurp(victim), "keep");

    ASSERT_EQ(unlink(trace_file_.c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), trace_file_.c_str()), 0);
    debug_log_to_file("through the hard link\n");
    EXPECT_EQ(proc::slurp(victim), "keep");
}

TEST_F(TraceTest, SetDebugFlagRunsTouchOrRm)
{
    const char *saved = wlan_debug_flag_name;
    wlan_debug_flag_name = DBG_FILE_FLAG;
    wlanModuleSetDebugFlag(1);
    wlanModuleSetDebugFlag(0);
    wlanModuleSetDebugFlag(2);
    EXPECT_EQ(take_commands(), (std::vector<std::string>{"touch /tmp/wlan_module_debug", "rm /tmp/wlan_module_debug",
                                                         "rm /tmp/wlan_module_debug"}));
    wlan_debug_flag_name = saved;
}

}  // namespace
