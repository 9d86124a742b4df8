// The bus daemon, the tool and the client library together, as processes
// on a private socket: listeners and patterns, a raw 640-byte record,
// clients that misbehave, and the daemon going away under a client.

#include <gtest/gtest.h>

#include <libubus.h>

#include "test_util.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using ubustest::Bytes;

namespace {

struct Listener {
	struct ubus_event_handler h = {};
	std::vector<std::string> names;
	std::vector<Bytes> bodies;
};

void on_event(struct ubus_context *, struct ubus_event_handler *ev, const char *type, struct blob_attr *msg)
{
	auto *l = reinterpret_cast<Listener *>(reinterpret_cast<char *>(ev) - offsetof(Listener, h));
	l->names.push_back(type);
	const auto *p = static_cast<const uint8_t *>(blob_data(msg));
	l->bodies.push_back(Bytes(p, p + blob_len(msg)));
}

// Serves the connection for up to `ms` milliseconds, as a level-triggered watcher would.
void pump(struct ubus_context *ctx, int ms)
{
	for (int left = ms; left > 0 && !ctx->sock.eof; left -= 10) {
		struct pollfd p = {ctx->sock.fd, POLLIN, 0};
		if (poll(&p, 1, 10) > 0)
			ctx->sock.cb(&ctx->sock, ULOOP_READ);
	}
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &out)
{
	pid_t pid = fork();
	if (pid == 0) {
		int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		dup2(fd, 1);
		std::vector<char *> args;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		execv(args[0], args.data());
		_exit(127);
	}
	return pid;
}

int wait_exit(pid_t pid)
{
	int st = 0;
	waitpid(pid, &st, 0);
	return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string slurp(const std::string &path)
{
	std::ifstream f(path);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

int g_lost = 0;
void on_lost(struct ubus_context *)
{
	g_lost++;
}

class SystemTest : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_TRUE(daemon.start()) << daemon.log(); }
	struct ubus_context *connect()
	{
		struct ubus_context *c = ubus_connect(sock.c_str());
		EXPECT_NE(c, nullptr);
		return c;
	}
	// Waits until the tool has registered its patterns (the daemon queues
	// nothing for it before that, so a short pause is enough).
	void settle() { usleep(300000); }

	ubustest::TempDir dir;
	std::string sock = dir.file("ubus.sock");
	ubustest::Daemon daemon{sock, dir.file("ubusd.log")};
	std::string tool = UBUS_TOOL_PATH;
};

TEST_F(SystemTest, ExactAndWildcardListenersAndNoEchoToTheSender)
{
	struct ubus_context *a = connect(), *b = connect(), *c = connect();
	ASSERT_TRUE(a && b && c);
	Listener la, lb, lc;
	la.h.cb = lb.h.cb = lc.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "sta_leave"), 0);
	ASSERT_EQ(ubus_register_event_handler(b, &lb.h, "sta_*"), 0);
	ASSERT_EQ(ubus_register_event_handler(c, &lc.h, "*"), 0);
	const pid_t lp = spawn({tool, "-s", sock, "-t", "3", "listen", "sta_leave", "sta_join"}, dir.file("listen.out"));
	settle();

	struct blob_buf buf = {};
	blob_buf_init(&buf, 0);
	blobmsg_add_string(&buf, "mac", "00:11:22:33:44:55");
	EXPECT_EQ(ubus_send_event(c, "sta_leave", buf.head), 0);
	std::string err;
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "sta_join", R"({"n":-5,"ok":true})"}, nullptr, &err), 0) << err;
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "other", "{}"}), 0);
	pump(a, 300);
	pump(b, 300);
	pump(c, 300);

	EXPECT_EQ(la.names, (std::vector<std::string>{"sta_leave"}));
	EXPECT_EQ(lb.names, (std::vector<std::string>{"sta_leave", "sta_join"}));
	EXPECT_EQ(lc.names, (std::vector<std::string>{"sta_join", "other"})); // not its own sta_leave
	ASSERT_EQ(la.bodies.size(), 1u);
	struct blob_attr *tb[1];
	static const struct blobmsg_policy pol[1] = {{"mac", BLOBMSG_TYPE_STRING}};
	ASSERT_EQ(blobmsg_parse(pol, 1, tb, la.bodies[0].data(), static_cast<unsigned>(la.bodies[0].size())), 0);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_STREQ(blobmsg_get_string(tb[0]), "00:11:22:33:44:55");

	EXPECT_EQ(wait_exit(lp), 0);
	EXPECT_EQ(slurp(dir.file("listen.out")),
		  "{ \"sta_leave\": {\"mac\":\"00:11:22:33:44:55\"} }\n"
		  "{ \"sta_join\": {\"n\":-5,\"ok\":true} }\n");

	// Unregistering drops all of the handler's patterns; it may register anew.
	ASSERT_EQ(ubus_unregister_event_handler(b, &lb.h), 0);
	EXPECT_EQ(lb.h.obj.id, 0u);
	EXPECT_EQ(ubus_send_event(c, "sta_leave", buf.head), 0);
	pump(b, 200);
	EXPECT_EQ(lb.names.size(), 2u);
	ASSERT_EQ(ubus_register_event_handler(b, &lb.h, "sta_leave"), 0);
	EXPECT_EQ(ubus_send_event(c, "sta_leave", buf.head), 0);
	pump(b, 300);
	EXPECT_EQ(lb.names.size(), 3u);
	blob_buf_free(&buf);
	ubus_free(a);
	ubus_free(b);
	ubus_free(c);
}

TEST_F(SystemTest, RawRecordTravelsByteForByte)
{
	Bytes rec(640);
	for (size_t i = 0; i < rec.size(); i++)
		rec[i] = static_cast<uint8_t>((i * 37 + 11) & 0xff);
	rec[0] = 'w'; // and NULs, high bytes, no terminator at the end
	rec[100] = 0;
	rec[639] = 0xff;
	{
		std::ofstream f(dir.file("rec.bin"), std::ios::binary);
		f.write(reinterpret_cast<const char *>(rec.data()), static_cast<std::streamsize>(rec.size()));
	}
	struct ubus_context *a = connect();
	ASSERT_NE(a, nullptr);
	Listener la;
	la.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "sta_leave"), 0);
	const pid_t lp = spawn({tool, "-s", sock, "-x", "-t", "2", "listen", "sta_leave"}, dir.file("hex.out"));
	settle();

	std::string err;
	ASSERT_EQ(ubustest::run({tool, "-s", sock, "send-raw", "sta_leave", dir.file("rec.bin")}, nullptr, &err), 0)
		<< err;
	pump(a, 500);
	ASSERT_EQ(la.bodies.size(), 1u);
	struct blob_attr *tb[1];
	static const struct blobmsg_policy pol[1] = {{"sta_leave", BLOBMSG_TYPE_UNSPEC}};
	ASSERT_EQ(blobmsg_parse(pol, 1, tb, la.bodies[0].data(), static_cast<unsigned>(la.bodies[0].size())), 0);
	ASSERT_NE(tb[0], nullptr);
	EXPECT_EQ(blobmsg_type(tb[0]), BLOBMSG_TYPE_UNSPEC);
	ASSERT_EQ(blobmsg_data_len(tb[0]), 640u);
	EXPECT_EQ(memcmp(blobmsg_data(tb[0]), rec.data(), 640), 0);

	// The library's own sender, as the station notifications use it.
	struct ubus_context *s = connect();
	struct blob_buf buf = {};
	blob_buf_init(&buf, 0);
	blobmsg_add_field(&buf, BLOBMSG_TYPE_UNSPEC, "sta_leave", rec.data(), 640);
	EXPECT_EQ(ubus_send_event(s, "sta_leave", buf.head), 0);
	pump(a, 500);
	ASSERT_EQ(la.bodies.size(), 2u);
	EXPECT_EQ(la.bodies[0], la.bodies[1]);

	EXPECT_EQ(wait_exit(lp), 0);
	const std::string out = slurp(dir.file("hex.out"));
	const std::string hexrec = "\"" + [&] {
		std::string h;
		char b[3];
		for (uint8_t v : rec) {
			snprintf(b, sizeof(b), "%02x", v);
			h += b;
		}
		return h;
	}() + "\"";
	const std::string line = "{ \"sta_leave\": {\"sta_leave\":" + hexrec + "} }\n";
	EXPECT_EQ(out, line + line);
	blob_buf_free(&buf);
	ubus_free(s);
	ubus_free(a);
}

TEST_F(SystemTest, MisbehavingClientsAreDroppedAndHarmNoOne)
{
	struct ubus_context *a = connect(), *s = connect();
	ASSERT_TRUE(a && s);
	Listener la;
	la.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "*"), 0);

	uint8_t hello[12];
	// Half a message, then gone.
	int fd = ubustest::connect_raw(sock);
	ASSERT_TRUE(ubustest::read_exact(fd, hello, 12));
	const Bytes half = ubustest::hex("00 05 00 01 00 00 00 01 00 00 00 58 03 00 00 08 00 00");
	ubustest::write_all(fd, half.data(), half.size());
	close(fd);
	// Oversized: the daemon hangs up on it.
	fd = ubustest::connect_raw(sock);
	ASSERT_TRUE(ubustest::read_exact(fd, hello, 12));
	const Bytes huge = ubustest::hex("00 05 00 01 00 00 00 01 00 20 00 04");
	ubustest::write_all(fd, huge.data(), huge.size());
	uint8_t x;
	EXPECT_FALSE(ubustest::read_exact(fd, &x, 1, 3000));
	close(fd);
	// Length below the header; then plain garbage.
	for (const char *junk : {"00 05 00 01 00 00 00 01 00 00 00 01", "ff ff ff ff ff ff ff ff ff ff ff ff ff ff"}) {
		fd = ubustest::connect_raw(sock);
		ASSERT_TRUE(ubustest::read_exact(fd, hello, 12));
		const Bytes j = ubustest::hex(junk);
		ubustest::write_all(fd, j.data(), j.size());
		EXPECT_FALSE(ubustest::read_exact(fd, &x, 1, 3000)) << junk;
		close(fd);
	}
	// A client that never reads its greeting nor anything else, listening to all.
	fd = ubustest::connect_raw(sock);

	struct blob_buf buf = {};
	blob_buf_init(&buf, 0);
	blobmsg_add_u32(&buf, "n", 1);
	EXPECT_EQ(ubus_send_event(s, "still.here", buf.head), 0);
	pump(a, 300);
	EXPECT_EQ(la.names, (std::vector<std::string>{"still.here"}));
	close(fd);
	blob_buf_free(&buf);
	ubus_free(a);
	ubus_free(s);

	const std::string log = daemon.log();
	EXPECT_NE(log.find("middle of a message"), std::string::npos) << log;
	EXPECT_NE(log.find("oversized"), std::string::npos) << log;
	EXPECT_NE(log.find("root length"), std::string::npos) << log;
}

TEST_F(SystemTest, DaemonRestartUnderAConnectedClient)
{
	g_lost = 0;
	struct ubus_context *a = connect();
	ASSERT_NE(a, nullptr);
	a->connection_lost = on_lost;
	Listener la;
	la.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "x"), 0);

	daemon.stop();
	struct pollfd p = {a->sock.fd, POLLIN, 0};
	ASSERT_EQ(poll(&p, 1, 3000), 1);
	a->sock.cb(&a->sock, ULOOP_READ);
	EXPECT_TRUE(a->sock.eof);
	EXPECT_FALSE(a->sock.error);
	EXPECT_EQ(g_lost, 1);
	// The descriptor stays readable (hung up): a watcher must stop, and
	// further calls return at once without reading.
	ASSERT_EQ(poll(&p, 1, 0), 1);
	for (int i = 0; i < 3; i++)
		a->sock.cb(&a->sock, ULOOP_READ);
	EXPECT_EQ(g_lost, 4);
	struct blob_buf buf = {};
	blob_buf_init(&buf, 0);
	EXPECT_EQ(ubus_send_event(a, "x", buf.head), UBUS_STATUS_INVALID_ARGUMENT);
	ubus_free(a);
	EXPECT_EQ(ubus_connect(sock.c_str()), nullptr);
	std::string err;
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "x"}, nullptr, &err), 255);
	EXPECT_EQ(err, "Failed to connect to ubus\n");

	// Back again: a new connection registers and hears events.
	ASSERT_TRUE(daemon.start());
	a = connect();
	ASSERT_NE(a, nullptr);
	la.h.obj.id = 0; // a new connection needs a new object
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "x"), 0);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "x", "{}"}), 0);
	pump(a, 300);
	EXPECT_EQ(la.names, (std::vector<std::string>{"x"}));

	// Killed outright while the client waits for nothing in particular.
	daemon.kill9();
	pump(a, 1000);
	EXPECT_TRUE(a->sock.eof);
	blob_buf_free(&buf);
	ubus_free(a);
}

// A handler that answers on its own connection from inside the callback.
void answer_ping(struct ubus_context *ctx, struct ubus_event_handler *ev, const char *type, struct blob_attr *msg)
{
	on_event(ctx, ev, type, msg);
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "re", type);
	EXPECT_EQ(ubus_send_event(ctx, "pong", b.head), 0);
	blob_buf_free(&b);
}

TEST_F(SystemTest, HandlersMaySendAndConnectionsLiveOnSeparateThreads)
{
	struct ubus_context *a = connect(), *b = connect();
	ASSERT_TRUE(a && b);
	Listener la, lb;
	la.h.cb = answer_ping;
	lb.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "ping"), 0);
	ASSERT_EQ(ubus_register_event_handler(b, &lb.h, "pong"), 0);

	// Two senders on their own threads and connections, 200 events each.
	auto sender = [this](const char *name) {
		struct ubus_context *c = ubus_connect(sock.c_str());
		ASSERT_NE(c, nullptr);
		struct blob_buf buf = {};
		for (int i = 0; i < 200; i++) {
			blob_buf_init(&buf, 0);
			blobmsg_add_u32(&buf, "i", static_cast<uint32_t>(i));
			EXPECT_EQ(ubus_send_event(c, name, buf.head), 0);
		}
		blob_buf_free(&buf);
		ubus_free(c);
	};
	std::thread t1(sender, "ping"), t2(sender, "ping");
	for (int i = 0; i < 300 && la.names.size() < 400; i++)
		pump(a, 10);
	t1.join();
	t2.join();
	pump(a, 200);
	pump(b, 500);
	EXPECT_EQ(la.names.size(), 400u);
	EXPECT_EQ(lb.names.size(), 400u);
	ubus_free(a);
	ubus_free(b);
}

TEST_F(SystemTest, MonitorShowsTrafficInBothDirections)
{
	const pid_t all = spawn({tool, "-s", sock, "-t", "2", "monitor"}, dir.file("all.out"));
	const pid_t inv = spawn({tool, "-s", sock, "-t", "2", "-m", "invoke", "-M", "r", "monitor"}, dir.file("inv.out"));
	settle();
	struct ubus_context *a = connect();
	ASSERT_NE(a, nullptr);
	Listener la;
	la.h.cb = on_event;
	ASSERT_EQ(ubus_register_event_handler(a, &la.h, "test.event"), 0);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "test.event", R"({"a":1,"s":"hi"})"}), 0);
	pump(a, 300);
	EXPECT_EQ(wait_exit(all), 0);
	EXPECT_EQ(wait_exit(inv), 0);

	char obj[16];
	snprintf(obj, sizeof(obj), "%d", static_cast<int>(la.h.obj.id));
	const std::string out = slurp(dir.file("all.out"));
	for (const std::string &want :
	     {std::string("          hello: {}\n"), std::string("     add_object: {}\n"),
	      std::string("           data: {\"objid\":") + obj + "}\n",
	      std::string(" #00000001         invoke: {\"objid\":1,\"method\":\"register\",\"data\":{\"object\":") + obj +
		      ",\"pattern\":\"test.event\"}}\n",
	      std::string("<- "), std::string("-> "),
	      std::string(" #00000000         invoke: {\"objid\":") + obj +
		      ",\"method\":\"test.event\",\"data\":{\"a\":1,\"s\":\"hi\"}}\n",
	      std::string(" #00000000         status: {\"status\":0,\"objid\":") + obj + "}\n"})
		EXPECT_NE(out.find(want), std::string::npos) << want << "\n" << out;

	// Filtered: only invokes the bus received.
	const std::string only = slurp(dir.file("inv.out"));
	EXPECT_NE(only.find("\"method\":\"send\""), std::string::npos) << only;
	EXPECT_EQ(only.find("-> "), std::string::npos) << only;
	EXPECT_EQ(only.find("status:"), std::string::npos) << only;
	ubus_free(a);
}

TEST_F(SystemTest, ToolExitCodesAndMessages)
{
	std::string out, err;
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "ubus.x"}, &out, &err), 6);
	EXPECT_EQ(err, "Command failed: Permission denied\n");
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "x", "[1,2]"}, &out, &err), 12);
	EXPECT_EQ(err, "Command failed: Parsing message data failed\n");
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send", "x", "{\"a\":"}, &out, &err), 12);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send"}, &out, &err), 254);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "frobnicate"}, &out, &err), 254);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "send-raw", "x", dir.file("missing")}, &out, &err), 2);
	EXPECT_NE(err.find("Cannot read"), std::string::npos);
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "listen", ""}, &out, &err), 255);
	EXPECT_EQ(err, "Error while registering for event '': Permission denied\n");
	EXPECT_EQ(ubustest::run({tool, "-s", sock, "-t", "1", "listen"}, &out, &err), 0);
	EXPECT_EQ(out, "");

	// SIGTERM ends a listener with status 0.
	const pid_t lp = spawn({tool, "-s", sock, "listen", "a"}, dir.file("l.out"));
	settle();
	kill(lp, SIGTERM);
	EXPECT_EQ(wait_exit(lp), 0);
}

} // namespace
