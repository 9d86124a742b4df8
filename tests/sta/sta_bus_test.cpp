// The station-event library end to end over a private bus daemon: delivery of
// published messages, subscription by type, reconnection across a bus
// restart, and the two tools.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <event.h>

extern "C" {
#include <libubus.h>
}

#include "sta_lib_ext.h"

namespace {

using namespace std::chrono_literals;

std::string build_dir()
{
    const char *b = getenv("RRM_BINARY_DIR");
    return b ? b : ".";
}

// A child process; its standard output can be read line by line with a
// deadline.
class Child {
public:
    Child(std::vector<std::string> argv, bool capture)
    {
        int fds[2] = {-1, -1};
        if (capture && pipe2(fds, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            if (capture)
                dup2(fds[1], 1);
            std::vector<char *> args;
            for (auto &a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        if (capture) {
            close(fds[1]);
            out_ = fds[0];
        }
    }
    ~Child()
    {
        stop(SIGKILL);
        if (out_ >= 0)
            close(out_);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool running() const { return pid_ > 0; }

    // Next whole line, or false when none came before the deadline.
    bool read_line(std::string *line, std::chrono::milliseconds limit)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto nl = buf_.find('\n');
            if (nl != std::string::npos) {
                *line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || out_ < 0)
                return false;
            struct pollfd p = {out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char chunk[512];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Reads lines until one equals want; false at the deadline.
    bool wait_for_line(const std::string &want, std::chrono::milliseconds limit,
                       std::vector<std::string> *seen = nullptr)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        std::string line;
        while (std::chrono::steady_clock::now() < end) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (!read_line(&line, left))
                return false;
            if (seen)
                seen->push_back(line);
            if (line == want)
                return true;
        }
        return false;
    }

    int wait_exit()
    {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void stop(int sig)
    {
        if (pid_ > 0) {
            kill(pid_, sig);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buf_;
};

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

void on_msg(sta_module_msg *m, void *priv)
{
    std::lock_guard<std::mutex> lock(g_seen->mu);
    g_seen->msgs.push_back(*m);
    g_seen->privs.push_back(priv);
    g_seen->cv.notify_all();
}

void on_con(const char *, int)
{
    std::lock_guard<std::mutex> lock(g_seen->mu);
    ++g_seen->connects;
    g_seen->cv.notify_all();
}

void on_dis(const char *, int)
{
    std::lock_guard<std::mutex> lock(g_seen->mu);
    ++g_seen->disconnects;
    g_seen->cv.notify_all();
}

// The caller's own descriptor: a byte 'x' counts a hit, 'q' ends the loop.
void on_pipe(int fd, short, void *)
{
    char c = 0;
    if (read(fd, &c, 1) != 1)
        return;
    if (c == 'q') {
        sta_lib_stop_dispatch();
        return;
    }
    std::lock_guard<std::mutex> lock(g_seen->mu);
    ++g_seen->watcher_hits;
    g_seen->cv.notify_all();
}

class StaBus : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/sta_bus_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        socket_ = dir_ + "/ubus.sock";
        // Set once, before any library thread reads it.
        setenv("STA_UBUS_SOCKET", socket_.c_str(), 1);
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)system(cmd.c_str());
    }

    void SetUp() override
    {
        if (access((build_dir() + "/platform/ubus/ubusd").c_str(), X_OK) != 0)
            GTEST_SKIP() << "no bus daemon built in this tree";
        start_bus();
        g_seen = &seen_;
        ASSERT_EQ(pipe2(pipe_, O_CLOEXEC | O_NONBLOCK), 0);
    }

    void TearDown() override
    {
        if (pipe_[0] < 0)
            return;
        stop_loop();
        close(pipe_[0]);
        close(pipe_[1]);
        g_seen = nullptr;
        bus_.reset();
    }

    void start_bus()
    {
        unlink(socket_.c_str());
        bus_ = std::make_unique<Child>(
            std::vector<std::string>{build_dir() + "/platform/ubus/ubusd", "-s", socket_}, false);
        ASSERT_TRUE(bus_->running());
        // Ready once a client can connect.
        for (int i = 0; i < 100; ++i) {
            struct ubus_context *c = ubus_connect(socket_.c_str());
            if (c != nullptr) {
                ubus_free(c);
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        FAIL() << "bus daemon did not come up";
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

    static sta_module_msg assoc_msg(uint8_t last_octet)
    {
        sta_module_msg m;
        memset(&m, 0, sizeof m);
        m.op = STA_MODULE_NOTIFY;
        rrm_sta_info &i = m.info;
        const uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, last_octet};
        memcpy(i.mac, mac, 6);
        strcpy(i.iface, "wlan-2-3");
        strcpy(i.ssid, "0123456789abcdef0123456789abcdef");  // 32, the most
        inet_pton(AF_INET, "10.1.2.3", &i.ipAddr);
        i.vid = 4094;
        i.reason_code = 8;
        i.authentication = 1;
        i.status = HAPD_STA_ASSOC;
        i.type = STA_ASSO;
        strcpy(i.event_type, "AP-STA-CONNECTED");
        i.auth_alg = 3;
        i.reassoc = 1;
        const uint8_t ap[6] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
        memcpy(i.reassoc_ap, ap, 6);
        strcpy(i.security, "WPA3-Personal");
        strcpy(i.display_ssid, "Guest network");
        i.band_id = 2;
        i.rssi = -71;
        i.channel = 149;
        return m;
    }

    static sta_module_msg typed_msg(reg_type t)
    {
        sta_module_msg m = assoc_msg(0x99);
        m.info.type = t;
        return m;
    }

    static void publish(sta_module_msg m)
    {
        sta_lib_check_ch(nullptr);
        ASSERT_EQ(sta_lib_notify(&m), 0);
        ASSERT_EQ(sta_lib_flush(5000), 0);
    }

    static inline std::string dir_, socket_;
    std::unique_ptr<Child> bus_;
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
    publish(typed_msg(STA_DISASSO));  // not subscribed
    sta_module_msg sent = assoc_msg(0x55);
    publish(sent);
    publish(typed_msg(NETOPEER_ONLINE));
    ASSERT_TRUE(seen_.wait([&] { return seen_.msgs.size() >= 2; }, 5s));

    std::lock_guard<std::mutex> lock(seen_.mu);
    ASSERT_EQ(seen_.msgs.size(), 2u);
    // Every byte of the association arrived, in order, with the record as the
    // private pointer.
    EXPECT_EQ(memcmp(&seen_.msgs[0], &sent, sizeof sent), 0);
    EXPECT_EQ(seen_.msgs[0].info.rssi, -71);
    EXPECT_STREQ(seen_.msgs[0].info.ssid, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(seen_.msgs[1].info.type, NETOPEER_ONLINE);
    EXPECT_EQ(seen_.privs[0], &info_);
}

TEST_F(StaBus, BadNotificationsAreDroppedAndGoodOnesStillArrive)
{
    start_loop({STA_ASSO});
    struct ubus_context *raw = ubus_connect(socket_.c_str());
    ASSERT_NE(raw, nullptr);
    auto send_raw = [&](const char *name, const void *rec, size_t len) {
        struct blob_buf b;
        memset(&b, 0, sizeof b);
        blob_buf_init(&b, 0);
        blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, STA_LIB_ATTR, rec,
                          static_cast<unsigned int>(len));
        EXPECT_EQ(ubus_send_event(raw, name, b.head), 0);
        blob_buf_free(&b);
    };
    sta_module_msg m = assoc_msg(1);
    send_raw("stalib.sta_asso", &m, sizeof m - 4);  // short record
    sta_module_msg bad = m;
    int32_t nine = 9;
    memcpy(reinterpret_cast<unsigned char *>(&bad) + 4 + offsetof(rrm_sta_info, type), &nine, 4);
    send_raw("stalib.sta_asso", &bad, sizeof bad);  // type outside 0 to 6
    bad = m;
    memset(bad.info.iface, 'w', sizeof bad.info.iface);
    send_raw("stalib.sta_asso", &bad, sizeof bad);  // unterminated interface name
    bad = m;
    bad.info.type = STA_DISASSO;
    send_raw("stalib.sta_asso", &bad, sizeof bad);  // type not matching the event
    sta_module_msg good = assoc_msg(2);
    send_raw("stalib.sta_asso", &good, sizeof good);
    ubus_free(raw);

    ASSERT_TRUE(seen_.wait([&] { return !seen_.msgs.empty(); }, 5s));
    std::this_thread::sleep_for(200ms);  // nothing else may follow
    std::lock_guard<std::mutex> lock(seen_.mu);
    ASSERT_EQ(seen_.msgs.size(), 1u);
    EXPECT_EQ(seen_.msgs[0].info.mac[5], 2);
}

TEST_F(StaBus, ReconnectsAcrossABusRestartWhileServingTheCallersWatcher)
{
    start_loop({STA_ASSO});
    bus_->stop(SIGTERM);
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

TEST_F(StaBus, MonitorPrintsAStationIpPublicationFieldByField)
{
    Child mon({build_dir() + "/platform/sta/sta_mon", "-c", "1", "-t", "ip"}, true);
    ASSERT_TRUE(mon.wait_for_line("# connected (0)", 5s));

    // As the daemon publishes a station's address: zero-filled but for the
    // station, the address and the type.
    sta_module_msg m;
    memset(&m, 0, sizeof m);
    const uint8_t mac[6] = {0x02, 0xde, 0xad, 0xbe, 0xef, 0x01};
    memcpy(m.info.mac, mac, 6);
    inet_pton(AF_INET, "192.168.1.10", &m.info.ipAddr);
    m.info.type = STA_IP;
    publish(typed_msg(STA_ASSO));  // filtered out by -t ip
    publish(m);

    std::vector<std::string> lines;
    ASSERT_TRUE(mon.wait_for_line("end", 5s, &lines));
    EXPECT_EQ(mon.wait_exit(), 0);
    auto has = [&](const std::string &l) {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    };
    EXPECT_EQ(lines.front(), "message STA_IP");
    EXPECT_TRUE(has("  mac: 02:de:ad:be:ef:01"));
    EXPECT_TRUE(has("  ipAddr: 192.168.1.10"));
    EXPECT_TRUE(has("  type: 2"));
    EXPECT_TRUE(has("  op: STA_MODULE_NOTIFY"));
    EXPECT_TRUE(has("  iface: "));
    EXPECT_EQ(lines.size(), 21u);
}

TEST_F(StaBus, PublisherToolSendsItsOptionsAndRefusesBadValues)
{
    std::string pub = build_dir() + "/platform/sta/sta_pub";
    const std::vector<std::vector<std::string>> bad = {
        {"assoc", "--mac", "02:11:22:33:44"},
        {"assoc", "--iface", "wlan 1"},
        {"assoc", "--iface", "abcdefghijklmnopq"},
        {"assoc", "--ssid", "0123456789abcdef0123456789abcdefX"},
        {"assoc", "--rssi", "-200"},
        {"assoc", "--channel", "6x"},
        {"assoc", "--band", "3"},
        {"assoc", "--vid", ""},
        {"assoc", "--ip", "300.1.1.1"},
        {"roam"},
        {},
    };
    for (const auto &args : bad) {
        std::vector<std::string> argv = {pub};
        argv.insert(argv.end(), args.begin(), args.end());
        Child c(argv, false);
        EXPECT_EQ(c.wait_exit(), 2) << (args.empty() ? "(none)" : args.back());
    }

    start_loop({STA_ASSO, NETOPEER_CLAIM});
    Child c({pub, "assoc", "--mac", "02:AB:cd:00:00:07", "--iface", "wlan-1-2", "--ssid",
             "Cafe Guest", "--security", "WPA2-Personal", "--vid", "20", "--auth", "1", "--band",
             "1", "--rssi", "-45", "--channel", "36"},
            false);
    EXPECT_EQ(c.wait_exit(), 0);
    Child claim({pub, "claim"}, false);
    EXPECT_EQ(claim.wait_exit(), 0);
    ASSERT_TRUE(seen_.wait([&] { return seen_.msgs.size() >= 2; }, 5s));

    std::lock_guard<std::mutex> lock(seen_.mu);
    const rrm_sta_info &i = seen_.msgs[0].info;
    const uint8_t mac[6] = {0x02, 0xab, 0xcd, 0x00, 0x00, 0x07};
    EXPECT_EQ(memcmp(i.mac, mac, 6), 0);
    EXPECT_STREQ(i.iface, "wlan-1-2");
    EXPECT_STREQ(i.ssid, "Cafe Guest");
    EXPECT_STREQ(i.security, "WPA2-Personal");
    EXPECT_EQ(i.vid, 20);
    EXPECT_EQ(i.authentication, 1);
    EXPECT_EQ(i.band_id, 1);
    EXPECT_EQ(i.rssi, -45);
    EXPECT_EQ(i.channel, 36);
    EXPECT_EQ(i.status, HAPD_STA_ASSOC);
    EXPECT_EQ(seen_.msgs[1].info.type, NETOPEER_CLAIM);
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
