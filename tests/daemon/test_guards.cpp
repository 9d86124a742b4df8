// The trace file lives in a folder every user may write to: a file of
// another user is refused (that user could read the traces), and a holder
// of its lock delays an entry for a bounded time only (the entry is then
// dropped). A database client that cannot be had ends the process with a
// line naming the unit.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "../common/proc.h"
#include "wlan.h"
#include "wlan_hvd.h"

namespace {

TEST(TraceFile, HeldLockAndAnotherUsersFile)
{
    const proc::TempDir dir;
    const std::string path = dir.file("trace");
    const char *saved = wlan_debug_file_name;
    wlan_debug_file_name = path.c_str();
    auto text = [&] { return proc::slurp(path); };

    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    debug_log_to_file("while locked\n");
    EXPECT_EQ(text(), "");
    ASSERT_EQ(flock(fd, LOCK_UN), 0);
    debug_log_to_file("unlocked\n");
    EXPECT_NE(text().find("unlocked"), std::string::npos);

    // A file of another user needs root with that user mapped: a user
    // namespace that maps root alone (the cross-build stages' emulation
    // namespace) refuses the owner with EINVAL; the host stages check it.
    const bool chowned = geteuid() == 0 && fchown(fd, 4242, 4242) == 0;
    const int chown_errno = errno;
    if (chowned) {
        debug_log_to_file("another user\n");
        EXPECT_EQ(text().find("another user"), std::string::npos);
    }
    close(fd);
    wlan_debug_file_name = saved;
    if (!chowned)
        GTEST_SKIP() << "another user's trace file not checked: "
                     << (geteuid() != 0 ? "not root" : strerror(chown_errno));
}

TEST(FatalLine, NamesTheUnit)
{
    setenv("STATUSDB_PATH", "/nonexistent/rrm/status.db", 1);
    EXPECT_DEATH(
        {
            dup2(2, 1);
            sta_event_process(STA_INTERFACE_SSID, nullptr, nullptr, nullptr, BAND_ID_UNKNOWN);
        },
        "wlan:[0-9]+");
    unsetenv("STATUSDB_PATH");
}

}  // namespace
