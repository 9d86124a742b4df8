// The client library, first against a scripted daemon (the captured requests
// byte for byte, deliveries ahead of an answer, bad messages, the lost
// connection), then with the bus daemon and the tool as processes on a
// private socket: listeners and patterns, a raw 640-byte record, clients
// that misbehave, the daemon going away under a client, objects called by
// the tool and the library, time-outs, an owner that goes away mid-call and
// a reconnect after the daemon restarts.

#include <gtest/gtest.h>

#include <libubus.h>

#include "../common/proc.h"
#include "../common/transcript.h"
#include "test_util.h"
#include "ubus_client_internal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace ubustest;

namespace {

// A handler that records the names and payloads it is handed.
struct Listener {
	struct ubus_event_handler h = {};
	std::vector<std::string> names;
	std::vector<Bytes> bodies;
	explicit Listener(ubus_event_handler_t cb = record) { h.cb = cb; }

	static void record(struct ubus_context *, struct ubus_event_handler *ev, const char *type, struct blob_attr *msg)
	{
		auto *l = reinterpret_cast<Listener *>(reinterpret_cast<char *>(ev) - offsetof(Listener, h));
		l->names.push_back(type);
		const auto *p = static_cast<const uint8_t *>(blob_data(msg));
		l->bodies.push_back(Bytes(p, p + blob_len(msg)));
	}
};

using Ctx = std::unique_ptr<struct ubus_context, decltype(&ubus_free)>;
Ctx connect(const std::string &path)
{
	return Ctx(ubus_connect(path.c_str()), ubus_free);
}

int g_lost = 0;
void on_lost(struct ubus_context *)
{
	g_lost++;
}

bool readable(int fd, int ms)
{
	struct pollfd p = {fd, POLLIN, 0};
	return poll(&p, 1, ms) == 1;
}

// One read callback once the connection has input.
void serve_once(const Ctx &c)
{
	ASSERT_TRUE(readable(c->sock.fd, 5000));
	c->sock.cb(&c->sock, ULOOP_READ);
}

// Serves the connection for up to `ms` milliseconds, as a level-triggered watcher would.
void pump(const Ctx &c, int ms)
{
	for (int left = ms; left > 0 && !c->sock.eof; left -= 10)
		if (readable(c->sock.fd, 10))
			c->sock.cb(&c->sock, ULOOP_READ);
}

bool read_exact(int fd, uint8_t *p, size_t n, int ms = 5000)
{
	return readable(fd, ms) && recv(fd, p, n, MSG_WAITALL) == static_cast<ssize_t>(n);
}

void put(int fd, const std::string &h)
{
	const Bytes b = hex(h);
	ASSERT_EQ(send(fd, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
}

// Reads one whole bus message (header, root); empty on failure.
Bytes read_msg(int fd)
{
	Bytes m(12);
	if (!read_exact(fd, m.data(), 12))
		return {};
	m.resize(8 + std::max<size_t>(4, (size_t(m[9]) << 16) | (size_t(m[10]) << 8) | m[11]));
	return m.size() == 12 || read_exact(fd, m.data() + 12, m.size() - 12) ? m : Bytes{};
}

// Plays a script of tests/ubus/daemon-scripts.txt on a connection.
void play(int fd, const std::string &script)
{
	bool mine = false;
	transcript::play("ubus/daemon-scripts.txt",
			 {{"HELLO", "00 00 00 00 4c e4 ed 7e 00 00 00 04"}, {"REGISTER2", kRegister2}, {"REGISTER", kRegister},
			  {"SEND", kSend}, {"DELIVERY", kDelivery}, {"ANSWER", kDeliveryAnswer}, {"OK", kOk}},
			 [&](const std::string &line) {
				 if (line[0] == '[')
					 mine = line == "[" + script + "]";
				 else if (mine && line == ".")
					 usleep(50000);
				 else if (mine && line == "< *")
					 read_msg(fd);
				 else if (mine && line[0] == '<')
					 EXPECT_EQ(to_hex(read_msg(fd)), to_hex(hex(line.substr(1))));
				 else if (mine && line.find('|') != std::string::npos) {
					 put(fd, line.substr(1, line.find('|') - 1));
					 usleep(20000);
					 put(fd, line.substr(line.find('|') + 1));
				 } else if (mine)
					 put(fd, line.substr(1));
			 });
}

// A listening socket whose single connection is served by a script on a thread.
class FakeDaemon {
public:
	FakeDaemon(const std::string &path, const std::string &script) : path_(path)
	{
		struct sockaddr_un sun = {};
		sun.sun_family = AF_UNIX;
		memcpy(sun.sun_path, path.c_str(), path.size() + 1);
		EXPECT_EQ(bind(lfd_, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)), 0);
		EXPECT_EQ(listen(lfd_, 4), 0);
		th_ = std::thread([this, script] {
			const int fd = accept(lfd_, nullptr, nullptr);
			play(fd, script);
			close(fd);
		});
	}
	~FakeDaemon()
	{
		th_.join();
		close(lfd_);
		unlink(path_.c_str());
	}

private:
	std::string path_;
	int lfd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	std::thread th_;
};

class ClientTest : public ::testing::Test {
protected:
	void SetUp() override { g_lost = 0; }
	proc::TempDir dir;
	std::string path = dir.file("bus.sock");
	Listener l;
};

TEST_F(ClientTest, CapturedListenerExchangeByteForByte)
{
	FakeDaemon fake(path, "listener");
	Ctx ctx = connect(path);
	ASSERT_TRUE(ctx);
	EXPECT_EQ(ctx->local_id, 0x4ce4ed7eu);
	EXPECT_EQ(ubus_register_event_handler(ctx.get(), &l.h, "test.event"), 0);
	EXPECT_EQ(l.h.obj.id, 0x91ac7294u);
	EXPECT_EQ(ubus_register_event_handler(ctx.get(), &l.h, "net.*"), 0);
	// The delivery may come along with the answer to the registration and
	// be handled inside it; otherwise the socket is readable.
	if (l.names.empty())
		serve_once(ctx);
	ASSERT_EQ(l.names, std::vector<std::string>{"test.event"});
	EXPECT_EQ(to_hex(l.bodies[0]),
		  to_hex(hex("85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00")));
	EXPECT_FALSE(ctx->sock.eof);
}

TEST_F(ClientTest, CapturedSendAndDeliveriesAheadOfTheAnswer)
{
	FakeDaemon fake(path, "send");
	Ctx ctx = connect(path);
	ASSERT_TRUE(ctx);
	// The handler object is known to the library without asking the bus,
	// so the captured send stays the connection's first request.
	ubus_client_attach_handler(ctx.get(), &l.h, 0x91ac7294);
	Buf b;
	blobmsg_add_u32(&b.b, "a", 1);
	blobmsg_add_string(&b.b, "s", "hi");
	EXPECT_EQ(ubus_send_event(ctx.get(), "test.event", b.b.head), 0);
	EXPECT_EQ(l.names.size(), 2u); // both handled before the send returned
}

TEST_F(ClientTest, BadDaemonMessagesAreAnsweredOrSkipped)
{
	FakeDaemon fake(path, "bad-messages");
	Ctx ctx = connect(path);
	ASSERT_TRUE(ctx);
	ubus_client_attach_handler(ctx.get(), &l.h, 0x91ac7294);
	ctx->connection_lost = on_lost;
	for (int i = 0; i < 50 && !ctx->sock.eof; i++)
		serve_once(ctx);
	EXPECT_EQ(l.names.size(), 1u);
	EXPECT_TRUE(ctx->sock.eof);
	EXPECT_GE(g_lost, 1);
}

TEST_F(ClientTest, ConnectionLostWhileWaitingForTheAnswer)
{
	FakeDaemon fake(path, "lost");
	Ctx ctx = connect(path);
	ASSERT_TRUE(ctx);
	ctx->connection_lost = on_lost;
	Buf b;
	EXPECT_EQ(ubus_send_event(ctx.get(), "sta_leave", b.b.head), UBUS_STATUS_CONNECTION_FAILED);
	EXPECT_TRUE(ctx->sock.eof);
	EXPECT_FALSE(ctx->sock.error);
	EXPECT_EQ(g_lost, 1);
}

TEST_F(ClientTest, ConnectRefusesBadGreetings)
{
	EXPECT_FALSE(connect(dir.file("none.sock")));
	EXPECT_FALSE(connect(dir.file(std::string(200, 'x'))));
	for (const char *greeting : {"not-hello", "client-id-1", "short-root", "cut-short"}) {
		FakeDaemon fake(path, greeting);
		EXPECT_FALSE(connect(path)) << greeting;
	}
}

using namespace proc;

// The object "test" the system tests call; see tool.txt.
const struct blobmsg_policy echo_policy[] = {{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}};
const struct blobmsg_policy empty_policy[] = {
	{"b", BLOBMSG_TYPE_BOOL}, {"t", BLOBMSG_TYPE_TABLE}, {"a", BLOBMSG_TYPE_ARRAY}, {"d", BLOBMSG_TYPE_DOUBLE}};
int g_calls = 0;

int on_call(struct ubus_context *ctx, struct ubus_object *, struct ubus_request_data *req, const char *method,
	    struct blob_attr *msg)
{
	g_calls++;
	Buf b;
	static struct ubus_request_data kept;
	if (!strcmp(method, "later") || !strcmp(method, "slow")) {
		ubus_defer_request(ctx, req, &kept);
		blobmsg_add_u8(&b.b, "late", 1);
		if (method[0] == 'l' && ubus_send_reply(ctx, &kept, b.b.head) == 0)
			ubus_complete_deferred_request(ctx, &kept, 0);
		return UBUS_STATUS_UNKNOWN_ERROR; // ignored once deferred
	}
	if (!strcmp(method, "fail"))
		blobmsg_add_string(&b.b, "partial", "yes");
	ubus_send_reply(ctx, req, strcmp(method, "echo") ? b.b.head : msg);
	return !strcmp(method, "fail") ? UBUS_STATUS_PERMISSION_DENIED : 0;
}

const struct ubus_method test_methods[] = {
	UBUS_METHOD("echo", on_call, echo_policy), UBUS_METHOD_NOARG("fail", on_call),
	UBUS_METHOD("empty", on_call, empty_policy), UBUS_METHOD_NOARG("later", on_call),
	UBUS_METHOD_NOARG("slow", on_call)};
struct ubus_object_type test_type;

// (UBUS_OBJECT_TYPE is C only.) A type id is the bus's: one left from an
// earlier bus daemon would make an untyped, unlisted object, so it is dropped.
struct ubus_object test_object()
{
	test_type = {"test", 0, test_methods, int(ARRAY_SIZE(test_methods))};
	return {{}, "test", 0, nullptr, &test_type, nullptr, false, test_methods, int(ARRAY_SIZE(test_methods))};
}

class SystemTest : public ClientTest {
protected:
	void SetUp() override
	{
		ClientTest::SetUp();
		ASSERT_TRUE(start_daemon()) << slurp(dir.file("ubusd.log"));
	}
	void TearDown() override { stop_daemon(); }
	bool start_daemon()
	{
		daemon = spawn({UBUSD_PATH, "-s", sock}, "", dir.file("ubusd.log"));
		return proc::wait_for([&] { return bool(connect(sock)); }, 5000);
	}
	void stop_daemon()
	{
		if (daemon > 0 && kill(daemon, SIGTERM) == 0)
			wait_exit(daemon);
		daemon = -1;
	}
	// The tool on the private bus, in the background with its output to `out`.
	pid_t tool_bg(const std::vector<std::string> &args, const std::string &out)
	{
		std::vector<std::string> argv = {UBUS_TOOL_PATH, "-s", sock};
		argv.insert(argv.end(), args.begin(), args.end());
		return spawn(argv, out, dir.file("tool.err"));
	}
	// The tool run to its end, the owner `served` meanwhile: the exit
	// status; its stderr and stdout kept in `err` and `out`.
	int tool(const std::vector<std::string> &args, const Ctx *served = nullptr)
	{
		const pid_t pid = tool_bg(args, dir.file("tool.out"));
		int rc = -2, st = 0;
		proc::wait_for([&] {
			if (served)
				pump(*served, 10);
			if (waitpid(pid, &st, WNOHANG) != pid)
				return false;
			rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
			return true;
		}, 40000);
		err = slurp(dir.file("tool.err"));
		out = slurp(dir.file("tool.out"));
		return rc;
	}
	// Waits until a tool in the background is served: sends `name` until the
	// tool shows it. A listener registers its patterns in order: the probe's last.
	void settle(const std::string &file, const char *name = "ready", const Ctx *from = nullptr)
	{
		Ctx own = connect(sock);
		ASSERT_TRUE(from || own);
		Buf b;
		int i = 0; // a probe every half second; a failed send ends the wait
		proc::wait_for([&] {
			return !slurp(file).empty() ||
			       (i++ % 25 == 0 && ubus_send_event(from ? from->get() : own.get(), name, b.b.head) != 0);
		}, 30000);
		ASSERT_FALSE(slurp(file).empty()) << "the tool never showed " << name;
	}
	// A tool's output after its readiness probes.
	static std::string unprobed(const std::string &out)
	{
		return out.substr(out.find('\n', out.rfind("{ \"ready\"")) + 1);
	}

	std::string sock = dir.file("ubus.sock");
	pid_t daemon = -1;
	std::string err, out;
};

// Which pattern hears which event, and no copy back to the sender, are the
// bus daemon's (BusTest): here the library and the tool carry events.
TEST_F(SystemTest, ListenersHearEventsFromLibraryAndTool)
{
	struct stat st;
	ASSERT_EQ(stat(std::string(sock).c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0666u) << "every local user may connect";
	Ctx a = connect(sock), c = connect(sock);
	ASSERT_TRUE(a && c);
	Listener la;
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "sta_*"), 0);
	const pid_t lp = tool_bg({"-t", "3", "listen", "sta_leave", "sta_join", "ready"}, dir.file("listen.out"));
	settle(dir.file("listen.out"), "ready", &c);

	Buf buf;
	blobmsg_add_string(&buf.b, "mac", "00:11:22:33:44:55");
	EXPECT_EQ(ubus_send_event(c.get(), "sta_leave", buf.b.head), 0);
	EXPECT_EQ(tool({"send", "sta_join", R"({"n":-5,"ok":true})"}), 0) << err;
	pump(a, 300);
	EXPECT_EQ(la.names, (std::vector<std::string>{"sta_leave", "sta_join"}));
	ASSERT_EQ(la.bodies.size(), 2u);
	EXPECT_EQ(to_hex(la.bodies[0]), to_hex(buf.payload()));
	EXPECT_EQ(wait_exit(lp), 0);
	EXPECT_EQ(unprobed(slurp(dir.file("listen.out"))), "{ \"sta_leave\": {\"mac\":\"00:11:22:33:44:55\"} }\n"
						 "{ \"sta_join\": {\"n\":-5,\"ok\":true} }\n");
}

TEST_F(SystemTest, MisbehavingClientsAreDroppedAndHarmNoOne)
{
	Ctx a = connect(sock), s = connect(sock);
	ASSERT_TRUE(a && s);
	Listener la;
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "*"), 0);

	transcript::play("ubus/misbehaving.txt", {}, [&](const std::string &line) {
		Ctx raw = connect(sock); // its greeting taken, the rest written by hand
		ASSERT_TRUE(raw);
		put(raw->sock.fd, line.substr(line.find('|')));
		uint8_t x;
		EXPECT_FALSE(line.starts_with("hangup") && read_exact(raw->sock.fd, &x, 1, 3000)) << "not hung up";
	});
	Buf buf;
	EXPECT_EQ(ubus_send_event(s.get(), "still.here", buf.b.head), 0);
	pump(a, 300);
	EXPECT_EQ(la.names, (std::vector<std::string>{"still.here"}));

	// Why, in our bus daemon's words (another one may hang up silently).
	const std::string log = slurp(dir.file("ubusd.log"));
	for (const char *why : {"middle of a message", "oversized", "root length"})
		EXPECT_TRUE(!UBUSD_OURS || log.find(why) != std::string::npos) << log;
}

TEST_F(SystemTest, DaemonRestartUnderAConnectedClientAndReconnect)
{
	Ctx a = connect(sock);
	ASSERT_TRUE(a);
	a->connection_lost = on_lost;
	Listener la;
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "x"), 0);
	struct ubus_object test = test_object();
	ASSERT_EQ(ubus_add_object(a.get(), &test), 0);
	const uint32_t before = test.id;

	stop_daemon();
	serve_once(a);
	EXPECT_TRUE(a->sock.eof);
	EXPECT_FALSE(a->sock.error);
	EXPECT_EQ(g_lost, 1);
	// The descriptor stays readable (hung up): a watcher must stop, and
	// further calls return at once without reading.
	ASSERT_TRUE(readable(a->sock.fd, 0));
	for (int i = 0; i < 3; i++)
		a->sock.cb(&a->sock, ULOOP_READ);
	EXPECT_EQ(g_lost, 4);
	Buf buf;
	EXPECT_EQ(ubus_send_event(a.get(), "x", buf.b.head), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_FALSE(connect(sock));
	EXPECT_EQ(tool({"send", "x"}), 255);
	EXPECT_EQ(err, "Failed to connect to ubus\n");

	// Back: the object returns under a new id (a waiter sees it come); the
	// event registrations are the application's to renew.
	ASSERT_TRUE(start_daemon());
	const pid_t waiter = tool_bg({"-t", "10", "wait_for", "test"}, dir.file("wait.out"));
	usleep(300000);
	ASSERT_EQ(ubus_reconnect(a.get(), sock.c_str()), 0);
	EXPECT_EQ(wait_exit(waiter), 0);
	EXPECT_NE(test.id, before);
	EXPECT_EQ(tool({"call", "test", "empty"}, &a), 0) << err;
	EXPECT_EQ(tool({"send", "x"}, &a), 0);
	pump(a, 100);
	EXPECT_TRUE(la.names.empty());
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "x"), 0);
	EXPECT_EQ(tool({"send", "x"}, &a), 0);
	pump(a, 100);
	EXPECT_EQ(la.names, std::vector<std::string>{"x"});
}

// A handler that answers on its own connection from inside the callback.
void answer_ping(struct ubus_context *ctx, struct ubus_event_handler *ev, const char *type, struct blob_attr *msg)
{
	Listener::record(ctx, ev, type, msg);
	Buf b;
	blobmsg_add_string(&b.b, "re", type);
	EXPECT_EQ(ubus_send_event(ctx, "pong", b.b.head), 0);
}

TEST_F(SystemTest, HandlersMaySendWhileOthersSend)
{
	Ctx a = connect(sock), b = connect(sock);
	ASSERT_TRUE(a && b);
	Listener la(answer_ping), lb;
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "ping"), 0);
	ASSERT_EQ(ubus_register_event_handler(b.get(), &lb.h, "pong"), 0);

	// Two senders, 200 events each. The library is used by one thread at a
	// time in a process, so they are processes of their own.
	auto sender = [this] {
		const pid_t pid = fork();
		if (pid == 0) {
			Ctx c = connect(sock);
			for (uint32_t i = 0; c && i < 200; i++) {
				Buf buf;
				blobmsg_add_u32(&buf.b, "i", i);
				if (ubus_send_event(c.get(), "ping", buf.b.head) != 0)
					_exit(2);
			}
			_exit(c ? 0 : 1);
		}
		return pid;
	};
	const pid_t s1 = sender(), s2 = sender();
	for (int i = 0; i < 300 && la.names.size() < 400; i++)
		pump(a, 10);
	EXPECT_EQ(wait_exit(s1), 0);
	EXPECT_EQ(wait_exit(s2), 0);
	pump(a, 200);
	pump(b, 500);
	EXPECT_EQ(la.names.size(), 400u);
	EXPECT_EQ(lb.names.size(), 400u);
}

TEST_F(SystemTest, MonitorShowsTrafficInBothDirections)
{
	const pid_t all = tool_bg({"-t", "2", "monitor"}, dir.file("all.out"));
	settle(dir.file("all.out"));
	Ctx a = connect(sock);
	ASSERT_TRUE(a);
	Listener la;
	ASSERT_EQ(ubus_register_event_handler(a.get(), &la.h, "test.event"), 0);
	EXPECT_EQ(tool({"send", "test.event", R"({"a":1,"s":"hi"})"}), 0);
	pump(a, 300);
	EXPECT_EQ(wait_exit(all), 0);

	const std::string out = slurp(dir.file("all.out"));
	transcript::play("ubus/monitor.txt", {{"OBJ", std::to_string(static_cast<int>(la.h.obj.id))}},
			 [&](const std::string &want) { EXPECT_NE(out.find(transcript::unescape(want)), std::string::npos) << out; });
}

TEST_F(SystemTest, ToolExitCodesMessagesAndOutput)
{
	Ctx owner = connect(sock);
	ASSERT_TRUE(owner);
	struct ubus_object test = test_object();
	ASSERT_EQ(ubus_add_object(owner.get(), &test), 0);
	char id[16];
	snprintf(id, sizeof(id), "%08x", test.id);
	transcript::play("ubus/tool.txt", {{"MISSING", dir.file("missing")}, {"OBJ", id}}, [&](const std::string &line) {
		std::vector<std::string> f(4);
		std::istringstream fields(line);
		for (std::string &x : f) {
			std::getline(fields, x, '|');
			x.erase(0, x.find_first_not_of(' ')).erase(x.find_last_not_of(' ') + 1);
		}
		EXPECT_EQ(tool(transcript::words(f[1]), &owner), std::stoi(f[0])) << line;
		EXPECT_EQ(err.substr(0, transcript::unescape(f[2]).size()), transcript::unescape(f[2])) << line;
		EXPECT_EQ(out, transcript::unescape(f[3])) << line;
	});

	// SIGTERM ends a listener with status 0.
	const pid_t lp = tool_bg({"listen", "a"}, dir.file("l.out"));
	settle(dir.file("l.out"), "a");
	kill(lp, SIGTERM);
	EXPECT_EQ(wait_exit(lp), 0);
}

// Calls from the library: a call nobody serves times out, and its late
// answer is dropped by the next call; so does a call to the caller's own object.
void count_reply(struct ubus_request *req, int, struct blob_attr *)
{
	++*static_cast<int *>(req->priv);
}

TEST_F(SystemTest, LibraryCallsTimeOutAndDropLateReplies)
{
	Ctx owner = connect(sock), caller = connect(sock);
	ASSERT_TRUE(owner && caller);
	struct ubus_object test = test_object();
	ASSERT_EQ(ubus_add_object(owner.get(), &test), 0);
	uint32_t id = 0;
	ASSERT_EQ(ubus_lookup_id(caller.get(), "test", &id), 0);
	EXPECT_EQ(id, test.id);
	int replies = 0, calls = g_calls;
	Buf args;
	EXPECT_EQ(ubus_invoke(caller.get(), id, "echo", args.b.head, count_reply, &replies, 200), UBUS_STATUS_TIMEOUT);
	pump(owner, 300); // answers now, too late
	EXPECT_EQ(g_calls, calls + 1);
	EXPECT_EQ(ubus_invoke(caller.get(), id, "fail", args.b.head, count_reply, &replies, 200), UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(replies, 0);
	EXPECT_EQ(ubus_invoke(owner.get(), id, "echo", args.b.head, count_reply, &replies, 200), UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(g_calls, calls + 3) << "the queued calls (\"fail\", its own) are served once it gave up";

	// The owner goes away in the middle of a call: the caller hears nothing
	// from the bus and runs out of time.
	calls = g_calls;
	const pid_t waiting = tool_bg({"-t", "2", "call", "test", "slow"}, dir.file("slow.out"));
	proc::wait_for([&] { return pump(owner, 10), g_calls > calls; }, 5000);
	owner.reset();
	EXPECT_EQ(wait_exit(waiting), 256 - UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(slurp(dir.file("slow.out")), "");
	EXPECT_EQ(ubus_lookup_id(caller.get(), "test", &id), UBUS_STATUS_NOT_FOUND);
}

} // namespace
