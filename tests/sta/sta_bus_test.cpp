// The station-event library end to end over a private bus daemon: delivery of
// published messages, subscription by type, reconnection across a bus
// restart, bad records dropped, and the two tools.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <arpa/inet.h>

#include <event.h>

extern "C" {
#include <libubus.h>
}

#include "../common/proc.h"
#include "sta_lib_ext.h"

namespace {

using namespace std::chrono_literals;

std::string build_dir() { return getenv("RRM_BINARY_DIR") ? getenv("RRM_BINARY_DIR") : "."; }
std::string bus_daemon() { return getenv("SIM_UBUSD") ? getenv("SIM_UBUSD") : build_dir() + "/platform/ubus/ubusd"; }
std::string bus_tool() { return getenv("SIM_UBUS") ? getenv("SIM_UBUS") : build_dir() + "/platform/ubus/ubus"; }

// What the subscriber's callbacks saw, filled on the loop thread.
struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<sta_module_msg> msgs;
    std::vector<void *> privs;
    int connects = 0;
    int disconnects = 0;
    int watcher_hits = 0;

    bool wait(const std::function<bool()> &cond, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, limit, cond);
    }
};

Seen *g_seen = nullptr;

// Changes what was seen under the lock and wakes the waiting test.
template <class F> void note(F change)
{
    std::lock_guard<std::mutex> lock(g_seen->mu);
    change(*g_seen);
    g_seen->cv.notify_all();
}

void on_msg(sta_module_msg *m, void *priv)
{
    note([&](Seen &s) {
        s.msgs.push_back(*m);
        s.privs.push_back(priv);
    });
}
void on_con(const char *, int) { note([](Seen &s) { ++s.connects; }); }
void on_dis(const char *, int) { note([](Seen &s) { ++s.disconnects; }); }

// The caller's own descriptor: a byte 'x' counts a hit, 'q' ends the loop.
void on_pipe(int fd, short, void *)
{
    char c = 0;
    if (read(fd, &c, 1) != 1)
        return;
    if (c == 'q')
        sta_lib_stop_dispatch();
    else
        note([](Seen &s) { ++s.watcher_hits; });
}

class StaBus : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(dir_.empty());
        // Set once, before any library thread reads it.
        setenv("STA_UBUS_SOCKET", socket_.c_str(), 1);
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }

    void SetUp() override
    {
        if (access(bus_daemon().c_str(), X_OK) != 0)
            GTEST_SKIP() << "no bus daemon built in this tree";
        start_bus();
        g_seen = &seen_;
        ASSERT_EQ(pipe2(pipe_, O_CLOEXEC | O_NONBLOCK), 0);
    }

    void TearDown() override
    {
        if (pipe_[0] >= 0) {
            stop_loop();
            close(pipe_[0]);
            close(pipe_[1]);
            g_seen = nullptr;
        }
        stop_bus(SIGKILL);
    }

    void start_bus()
    {
        unlink(socket_.c_str());
        bus_ = proc::spawn({bus_daemon(), "-s", socket_});
        ASSERT_GT(bus_, 0);
        // Ready once the bus tool can send on it (another process: one thread
        // of this one may use the bus library, and the loop's thread may).
        ASSERT_TRUE(proc::wait_for([&] { return proc::run(bus_tool() + " -s " + socket_ + " send probe '{}'") == 0; }))
            << "bus daemon did not come up";
    }

    void stop_bus(int sig)
    {
        if (bus_ > 0) {
            kill(bus_, sig);
            waitpid(bus_, nullptr, 0);
            bus_ = -1;
        }
    }

    // Runs the dispatch loop on its own thread, with the caller's watcher
    // armed on the pipe the way the daemon arms its bus socket.
    void start_loop(std::initializer_list<int> types)
    {
        memset(&info_, 0, sizeof info_);
        ASSERT_EQ(sub_info_init(&info_), 0);
        ASSERT_NE(info_.ev, nullptr);
        strcpy(info_.mac_str, "02:aa:bb:cc:dd:ee");
        info_.con_cb = on_con;
        info_.dis_con_cb = on_dis;
        for (int t : types)
            info_.reg_type[t].sub_cb = on_msg;
        auto *w = static_cast<struct event *>(info_.ev);
        event_set(w, pipe_[0], EV_READ | EV_PERSIST, on_pipe, nullptr);
        ASSERT_EQ(event_add(w, nullptr), 0);
        loop_ = std::thread([this] { loop_rc_ = subscribe_dispatch(&info_); });
        ASSERT_TRUE(seen_.wait([&] { return seen_.connects >= 1; }, 5s));
    }

    void stop_loop()
    {
        if (!loop_.joinable())
            return;
        ASSERT_EQ(write(pipe_[1], "q", 1), 1);
        loop_.join();
        EXPECT_EQ(loop_rc_, 0);
        event_del(static_cast<struct event *>(info_.ev));
    }

    // An association with every byte set (texts full but for their last
    // byte), so that any byte lost or moved on the way shows.
    static sta_module_msg assoc_msg(uint8_t last_octet, reg_type type = STA_ASSO)
    {
        sta_module_msg m;
        auto *p = reinterpret_cast<unsigned char *>(&m);
        for (size_t k = 0; k < sizeof m; ++k)
            p[k] = static_cast<unsigned char>('a' + k % 26);
        rrm_sta_info &i = m.info;
        m.op = STA_MODULE_NOTIFY;
        i.status = HAPD_STA_ASSOC;
        i.type = type;
        i.mac[5] = last_octet;
        for (auto [text, size] : {std::pair{i.iface, sizeof i.iface}, {i.ssid, sizeof i.ssid},
                                  {i.event_type, sizeof i.event_type}, {i.security, sizeof i.security},
                                  {i.display_ssid, sizeof i.display_ssid}})
            text[size - 1] = '\0';
        return m;
    }

    static void publish(sta_module_msg m)
    {
        sta_lib_check_ch(nullptr);
        ASSERT_EQ(sta_lib_notify(&m), 0);
        ASSERT_EQ(sta_lib_flush(5000), 0);
    }

    static inline proc::TempDir tmp_;  // removed with its files at exit
    static inline std::string dir_ = tmp_.path, socket_ = tmp_.file("ubus.sock");
    pid_t bus_ = -1;
    Seen seen_;
    sub_info_t info_;
    int pipe_[2] = {-1, -1};
    std::thread loop_;
    int loop_rc_ = -1;
};

}  // namespace

TEST_F(StaBus, PublishedMessagesReachOnlyTheSubscribedTypesIntact)
{
    start_loop({STA_ASSO, NETOPEER_ONLINE});
    publish(assoc_msg(0x99, STA_DISASSO));  // not subscribed
    sta_module_msg sent = assoc_msg(0x55);
    publish(sent);
    publish(assoc_msg(0x99, NETOPEER_ONLINE));
    ASSERT_TRUE(seen_.wait([&] { return seen_.msgs.size() >= 2; }, 5s));

    std::lock_guard<std::mutex> lock(seen_.mu);
    ASSERT_EQ(seen_.msgs.size(), 2u);
    // Every byte of the association arrived, in order, with the record as the
    // private pointer.
    EXPECT_EQ(memcmp(&seen_.msgs[0], &sent, sizeof sent), 0);
    EXPECT_EQ(seen_.msgs[1].info.type, NETOPEER_ONLINE);
    EXPECT_EQ(seen_.privs[0], &info_);
}

TEST_F(StaBus, BadNotificationsAreDroppedAndGoodOnesStillArrive)
{
    start_loop({STA_ASSO});
    // Sent by the bus tool: one thread of a process at a time may use the
    // bus library, and here the loop's thread does.
    auto send_raw = [&](const char *name, const void *rec, size_t len) {
        const std::string file = dir_ + "/raw.bin";
        std::ofstream(file, std::ios::binary).write(static_cast<const char *>(rec), static_cast<std::streamsize>(len));
        std::string out;
        EXPECT_EQ(proc::run(bus_tool() + " -s " + socket_ + " send-raw " + name + " " + file +
                                " " + STA_LIB_ATTR, &out), 0) << out;
    };
    // The codec's own tests cover every reason; here, that the loop drops a
    // bad record and goes on.
    sta_module_msg m = assoc_msg(1);
    send_raw("stalib.sta_asso", &m, sizeof m - 4);  // short record
    sta_module_msg bad = m;
    bad.info.type = STA_DISASSO;
    send_raw("stalib.sta_asso", &bad, sizeof bad);  // type not matching the event
    sta_module_msg good = assoc_msg(2);
    send_raw("stalib.sta_asso", &good, sizeof good);
    sta_module_msg last = assoc_msg(3);  // the bus keeps the order: nothing after this
    send_raw("stalib.sta_asso", &last, sizeof last);

    ASSERT_TRUE(seen_.wait([&] { return !seen_.msgs.empty() && seen_.msgs.back().info.mac[5] == 3; }, 5s));
    std::lock_guard<std::mutex> lock(seen_.mu);
    ASSERT_EQ(seen_.msgs.size(), 2u);
    EXPECT_EQ(seen_.msgs[0].info.mac[5], 2);
}

TEST_F(StaBus, ReconnectsAcrossABusRestartWhileServingTheCallersWatcher)
{
    start_loop({STA_ASSO});
    stop_bus(SIGTERM);
    ASSERT_TRUE(seen_.wait([&] { return seen_.disconnects == 1; }, 5s));

    // The caller's descriptor is served while the service is away.
    ASSERT_EQ(write(pipe_[1], "x", 1), 1);
    ASSERT_TRUE(seen_.wait([&] { return seen_.watcher_hits == 1; }, 2s));
    // Nothing can be sent now: the message is dropped, not queued.
    sta_module_msg lost = assoc_msg(0x10);
    sta_lib_check_ch(nullptr);
    sta_lib_notify(&lost);
    sta_lib_flush(5000);

    start_bus();
    ASSERT_TRUE(seen_.wait([&] { return seen_.connects == 2; }, 10s));
    EXPECT_EQ(seen_.disconnects, 1);
    ASSERT_EQ(write(pipe_[1], "x", 1), 1);
    ASSERT_TRUE(seen_.wait([&] { return seen_.watcher_hits == 2; }, 2s));

    // Publishing works again once the sender's next attempt is due.
    sta_module_msg again = assoc_msg(0x20);
    bool delivered = false;
    for (int i = 0; i < 40 && !delivered; ++i) {
        sta_lib_check_ch(nullptr);
        sta_lib_notify(&again);
        sta_lib_flush(5000);
        delivered = seen_.wait([&] { return !seen_.msgs.empty(); }, 250ms);
    }
    ASSERT_TRUE(delivered);
    std::lock_guard<std::mutex> lock(seen_.mu);
    EXPECT_EQ(seen_.msgs[0].info.mac[5], 0x20);
}

// What the publisher sends is checked end to end (tests/e2e, where the
// simulated access point publishes with it); here, the values it refuses.
TEST_F(StaBus, PublisherToolRefusesBadValues)
{
    for (const char *args : {"assoc --mac 02:11:22:33:44", "assoc --iface 'wlan 1'",
                             "assoc --iface abcdefghijklmnopq",
                             "assoc --ssid 0123456789abcdef0123456789abcdefX", "assoc --rssi -200",
                             "assoc --channel 6x", "assoc --band 3", "assoc --vid ''",
                             "assoc --ip 300.1.1.1", "roam", ""})
        EXPECT_EQ(2, proc::run(build_dir() + "/platform/sta/sta_pub " + args)) << args;
}

// The loop must not reap the process's children: shell commands run by other
// threads keep their exit status.
TEST_F(StaBus, ChildProcessesKeepTheirExitStatusWhileTheLoopRuns)
{
    start_loop({STA_ASSO});
    for (int i = 0; i < 20; ++i) {
        FILE *p = popen("exit 3", "r");
        ASSERT_NE(p, nullptr);
        std::this_thread::sleep_for(5ms);  // let SIGCHLD arrive first
        int status = pclose(p);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 3);
    }
}
