// The client library against a scripted daemon: the captured requests
// byte for byte, deliveries before a request's answer, bad messages from
// the daemon, and the loss of the connection.

#include <gtest/gtest.h>

#include <libubus.h>

#include "test_util.h"
#include "ubus_client_internal.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using ubustest::Bytes;
using ubustest::hex;
using ubustest::to_hex;

namespace {

// A listening socket whose single connection is served by `script` on a thread.
class FakeDaemon {
public:
	FakeDaemon(const std::string &path, std::function<void(int)> script) : path_(path)
	{
		lfd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		struct sockaddr_un sun = {};
		sun.sun_family = AF_UNIX;
		memcpy(sun.sun_path, path.c_str(), path.size() + 1);
		EXPECT_EQ(bind(lfd_, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)), 0);
		EXPECT_EQ(listen(lfd_, 4), 0);
		th_ = std::thread([this, script] {
			int fd = accept(lfd_, nullptr, nullptr);
			if (fd >= 0) {
				script(fd);
				close(fd);
			}
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
	int lfd_;
	std::thread th_;
};

void put(int fd, const std::string &h)
{
	const Bytes b = hex(h);
	ASSERT_TRUE(ubustest::write_all(fd, b.data(), b.size()));
}

void expect(int fd, const std::string &h)
{
	const Bytes want = hex(h);
	const Bytes got = ubustest::read_msg(fd);
	EXPECT_EQ(to_hex(got), to_hex(want));
}

struct Seen {
	std::vector<std::string> names;
	std::vector<Bytes> bodies;
};
Seen g_seen;

void record(struct ubus_context *, struct ubus_event_handler *, const char *type, struct blob_attr *msg)
{
	g_seen.names.push_back(type);
	const auto *p = static_cast<const uint8_t *>(blob_data(msg));
	g_seen.bodies.push_back(Bytes(p, p + blob_len(msg)));
}

int g_lost = 0;
void on_lost(struct ubus_context *)
{
	g_lost++;
}

const char *kHello = "00 00 00 00 4c e4 ed 7e 00 00 00 04";
const char *kAddObject = "00 06 00 01 00 00 00 00 00 00 00 04";
const char *kAddObjectReply = "00 02 00 01 00 00 00 00 00 00 00 0c 03 00 00 08 91 ac 72 94"
			      "00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00";
const char *kRegister = "00 05 00 02 00 00 00 01 00 00 00 50 03 00 00 08 00 00 00 01"
			"04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 34"
			"85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
			"83 00 00 1b 00 07 70 61 74 74 65 72 6e 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00";
const char *kRegister2 = "00 05 00 03 00 00 00 01 00 00 00 4c 03 00 00 08 00 00 00 01"
			 "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 30"
			 "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
			 "83 00 00 16 00 07 70 61 74 74 65 72 6e 00 00 00 6e 65 74 2e 2a 00 00 00";
const char *kDelivery = "00 05 00 01 00 00 00 00 00 00 00 38 03 00 00 08 91 ac 72 94"
			"04 00 00 0f 74 65 73 74 2e 65 76 65 6e 74 00 00 07 00 00 1c"
			"85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00";
const char *kDeliveryAnswer = "00 01 00 01 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 91 ac 72 94";

void wait_readable(struct ubus_context *ctx)
{
	struct pollfd p = {ctx->sock.fd, POLLIN, 0};
	ASSERT_EQ(poll(&p, 1, 5000), 1);
}

class ClientTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		g_seen = {};
		g_lost = 0;
		handler = {};
		handler.cb = record;
	}
	ubustest::TempDir dir;
	struct ubus_event_handler handler;
};

TEST_F(ClientTest, CapturedListenerExchangeByteForByte)
{
	const std::string path = dir.file("bus.sock");
	FakeDaemon fake(path, [](int fd) {
		put(fd, kHello);
		expect(fd, kAddObject);
		put(fd, kAddObjectReply);
		expect(fd, kRegister);
		put(fd, "00 01 00 02 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00");
		expect(fd, kRegister2);
		put(fd, "00 01 00 03 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00");
		put(fd, kDelivery);
		expect(fd, kDeliveryAnswer);
		ubustest::read_msg(fd); // until the client closes
	});
	struct ubus_context *ctx = ubus_connect(path.c_str());
	ASSERT_NE(ctx, nullptr);
	EXPECT_EQ(ctx->local_id, 0x4ce4ed7eu);
	EXPECT_EQ(ubus_register_event_handler(ctx, &handler, "test.event"), 0);
	EXPECT_EQ(handler.obj.id, 0x91ac7294u);
	EXPECT_EQ(ubus_register_event_handler(ctx, &handler, "net.*"), 0);
	// The delivery may come along with the answer to the registration and
	// be handled inside it; otherwise the socket is readable.
	if (g_seen.names.empty()) {
		wait_readable(ctx);
		ctx->sock.cb(&ctx->sock, ULOOP_READ);
	}
	ASSERT_EQ(g_seen.names.size(), 1u);
	EXPECT_EQ(g_seen.names[0], "test.event");
	EXPECT_EQ(to_hex(g_seen.bodies[0]),
		  to_hex(hex("85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00")));
	EXPECT_FALSE(ctx->sock.eof);
	ubus_free(ctx);
}

TEST_F(ClientTest, CapturedSendAndDeliveriesAheadOfTheAnswer)
{
	const std::string path = dir.file("bus.sock");
	FakeDaemon fake(path, [](int fd) {
		put(fd, "00 00 00 00 98 b6 b1 57 00 00 00 04");
		expect(fd, "00 05 00 01 00 00 00 01 00 00 00 58 03 00 00 08 00 00 00 01"
			   "04 00 00 09 73 65 6e 64 00 00 00 00 07 00 00 40"
			   "83 00 00 17 00 02 69 64 00 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00"
			   "82 00 00 24 00 04 64 61 74 61 00 00"
			   "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00");
		// Two deliveries pushed ahead of the STATUS, one in two pieces.
		const Bytes d = hex(kDelivery);
		ubustest::write_all(fd, d.data(), 10);
		usleep(20000);
		ubustest::write_all(fd, d.data() + 10, d.size() - 10);
		put(fd, kDelivery);
		put(fd, "00 01 00 01 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00");
		expect(fd, kDeliveryAnswer);
		expect(fd, kDeliveryAnswer);
		// A second send refused by the daemon.
		ubustest::read_msg(fd);
		put(fd, "00 01 00 02 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 06");
	});
	struct ubus_context *ctx = ubus_connect(path.c_str());
	ASSERT_NE(ctx, nullptr);
	// The handler object is known to the library without asking the bus,
	// so the captured send stays the connection's first request.
	ubus_client_attach_handler(ctx, &handler, 0x91ac7294);
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "a", 1);
	blobmsg_add_string(&b, "s", "hi");
	EXPECT_EQ(ubus_send_event(ctx, "test.event", b.head), 0);
	EXPECT_EQ(g_seen.names.size(), 2u); // both handled before the send returned
	EXPECT_EQ(ubus_send_event(ctx, "ubus.x", b.head), UBUS_STATUS_PERMISSION_DENIED);
	blob_buf_free(&b);
	ubus_free(ctx);
}

TEST_F(ClientTest, BadDaemonMessagesAreAnsweredOrSkipped)
{
	const std::string path = dir.file("bus.sock");
	FakeDaemon fake(path, [](int fd) {
		put(fd, kHello);
		// Version 1: skipped whole, the stream stays in step.
		put(fd, "01 05 00 09 00 00 00 00 00 00 00 0c 03 00 00 08 91 ac 72 94");
		// Unknown object: answered with NOT_FOUND.
		put(fd, "00 05 00 02 00 00 00 00 00 00 00 14 03 00 00 08 00 00 00 55 04 00 00 05 78 00 00 00");
		expect(fd, "00 01 00 02 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 04 03 00 00 08 00 00 00 55");
		// No DATA: INVALID_ARGUMENT, handler not called.
		put(fd, "00 05 00 03 00 00 00 00 00 00 00 14 03 00 00 08 91 ac 72 94 04 00 00 06 78 00 00 00");
		expect(fd, "00 01 00 03 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 02 03 00 00 08 91 ac 72 94");
		// No OBJID: ignored. Then a good one.
		put(fd, "00 05 00 04 00 00 00 00 00 00 00 0c 04 00 00 05 78 00 00 00");
		put(fd, kDelivery);
		expect(fd, kDeliveryAnswer);
		// A root length below the header size: the stream cannot go on.
		put(fd, "00 05 00 05 00 00 00 00 00 00 00 02");
		usleep(50000);
	});
	struct ubus_context *ctx = ubus_connect(path.c_str());
	ASSERT_NE(ctx, nullptr);
	ubus_client_attach_handler(ctx, &handler, 0x91ac7294);
	ctx->connection_lost = on_lost;
	for (int i = 0; i < 50 && !ctx->sock.eof; i++) {
		wait_readable(ctx);
		ctx->sock.cb(&ctx->sock, ULOOP_READ);
	}
	EXPECT_EQ(g_seen.names.size(), 1u);
	EXPECT_TRUE(ctx->sock.eof);
	EXPECT_GE(g_lost, 1);
	ubus_free(ctx);
}

TEST_F(ClientTest, ConnectionLostWhileWaitingAndAfter)
{
	const std::string path = dir.file("bus.sock");
	FakeDaemon fake(path, [](int fd) {
		put(fd, kHello);
		ubustest::read_msg(fd); // the send; never answered
	});
	struct ubus_context *ctx = ubus_connect(path.c_str());
	ASSERT_NE(ctx, nullptr);
	ctx->connection_lost = on_lost;
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	EXPECT_EQ(ubus_send_event(ctx, "sta_leave", b.head), UBUS_STATUS_CONNECTION_FAILED);
	EXPECT_TRUE(ctx->sock.eof);
	EXPECT_FALSE(ctx->sock.error);
	EXPECT_EQ(g_lost, 1);
	// Later calls fail at once; each read callback reports the loss again
	// without reading.
	EXPECT_EQ(ubus_send_event(ctx, "sta_leave", b.head), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(ubus_register_event_handler(ctx, &handler, "x"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(g_lost, 1);
	ctx->sock.cb(&ctx->sock, ULOOP_READ);
	ctx->sock.cb(&ctx->sock, ULOOP_READ);
	EXPECT_EQ(g_lost, 3);
	EXPECT_GE(ctx->sock.fd, 0); // still open until freed
	blob_buf_free(&b);
	ubus_free(ctx);
}

TEST_F(ClientTest, ConnectRefusesBadGreetings)
{
	EXPECT_EQ(ubus_connect(dir.file("none.sock").c_str()), nullptr);
	const std::string longpath = dir.path() + "/" + std::string(200, 'x');
	EXPECT_EQ(ubus_connect(longpath.c_str()), nullptr);
	for (const char *greeting : {"00 01 00 00 4c e4 ed 7e 00 00 00 04",   // not HELLO
				     "00 00 00 00 00 00 00 01 00 00 00 04",   // client id 1
				     "00 00 00 00 4c e4 ed 7e 00 00 00 02",   // short root
				     "00 00 00 00 4c e4"}) {                  // cut short
		const std::string path = dir.file("g.sock");
		FakeDaemon fake(path, [greeting](int fd) { put(fd, greeting); });
		EXPECT_EQ(ubus_connect(path.c_str()), nullptr) << greeting;
	}
	EXPECT_STREQ(ubus_strerror(6), "Permission denied");
	EXPECT_STREQ(ubus_strerror(99), "Unknown error: 99");
}

} // namespace
