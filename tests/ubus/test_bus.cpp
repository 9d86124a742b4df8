// The bus daemon's protocol handling, driven in-process: the captured
// exchanges byte for byte, pattern matching, permissions, bad messages.

#include <gtest/gtest.h>

#include <libubus.h>

#include "bus.h"
#include "test_util.h"

#include <algorithm>
#include <string>

using ubustest::Bytes;
using ubustest::hex;
using ubustest::to_hex;

namespace {

std::string be(uint32_t v)
{
	char s[16];
	snprintf(s, sizeof(s), "%02x %02x %02x %02x", v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff);
	return s;
}

// The captured texts name the listener's object 91ac7294; ours differ.
std::string with_obj(std::string text, uint32_t obj)
{
	const std::string from = "91 ac 72 94";
	for (size_t at; (at = text.find(from)) != std::string::npos;)
		text.replace(at, from.size(), be(obj));
	return text;
}

class BusTest : public ::testing::Test {
protected:
	std::vector<std::string> logs;
	ubusd::Bus bus{[this](const std::string &s) { logs.push_back(s); }, 12345};

	// Feeds bytes and returns what the client was sent in answer.
	std::vector<Bytes> feed(uint32_t id, const Bytes &msg, bool expect_ok = true)
	{
		std::string why;
		EXPECT_EQ(bus.receive(id, msg.data(), msg.size(), why), expect_ok) << why;
		return take(id);
	}
	std::vector<Bytes> take(uint32_t id)
	{
		std::vector<Bytes> out;
		ubusd::Client *c = bus.client(id);
		if (!c)
			return out;
		out.assign(c->tx.begin(), c->tx.end());
		c->tx.clear();
		c->tx_bytes = 0;
		return out;
	}
	uint32_t add_object(uint32_t client)
	{
		auto r = feed(client, hex("00 06 00 01 00 00 00 00 00 00 00 04"));
		EXPECT_EQ(r.size(), 2u);
		if (r.size() != 2 || r[0].size() != 20)
			return 0;
		return (uint32_t(r[0][16]) << 24) | (uint32_t(r[0][17]) << 16) | (uint32_t(r[0][18]) << 8) | r[0][19];
	}
	Bytes msg(uint8_t type, uint16_t seq, uint32_t peer, const struct blob_buf &b)
	{
		Bytes m = hex("00");
		m.push_back(type);
		m.push_back(uint8_t(seq >> 8));
		m.push_back(uint8_t(seq));
		for (int s = 24; s >= 0; s -= 8)
			m.push_back(uint8_t(peer >> s));
		const auto *p = reinterpret_cast<const uint8_t *>(b.head);
		m.insert(m.end(), p, p + blob_raw_len(b.head));
		return m;
	}
	int status_of(const Bytes &m)
	{
		if (m.size() < 20 || m[1] != UBUS_MSG_STATUS)
			return -1;
		return m[19];
	}
	// register <pattern> for object `obj` of client `c`, returns the status.
	int reg(uint32_t c, uint32_t obj, const char *pattern, bool int64 = false)
	{
		struct blob_buf b = {};
		blob_buf_init(&b, 0);
		blob_put_int32(&b, UBUS_ATTR_OBJID, 1);
		blob_put_string(&b, UBUS_ATTR_METHOD, "register");
		void *d = blob_nest_start(&b, UBUS_ATTR_DATA);
		if (int64)
			blobmsg_add_u64(&b, "object", obj);
		else
			blobmsg_add_u32(&b, "object", obj);
		blobmsg_add_string(&b, "pattern", pattern);
		blob_nest_end(&b, d);
		auto r = feed(c, msg(UBUS_MSG_INVOKE, 7, 1, b));
		blob_buf_free(&b);
		return r.size() == 1 ? status_of(r[0]) : -1;
	}
	int send(uint32_t c, const char *name)
	{
		struct blob_buf b = {};
		blob_buf_init(&b, 0);
		blob_put_int32(&b, UBUS_ATTR_OBJID, 1);
		blob_put_string(&b, UBUS_ATTR_METHOD, "send");
		void *d = blob_nest_start(&b, UBUS_ATTR_DATA);
		blobmsg_add_string(&b, "id", name);
		void *t = blobmsg_open_table(&b, "data");
		blobmsg_close_table(&b, t);
		blob_nest_end(&b, d);
		auto r = feed(c, msg(UBUS_MSG_INVOKE, 9, 1, b));
		blob_buf_free(&b);
		return r.size() == 1 ? status_of(r[0]) : -1;
	}
};

TEST_F(BusTest, CapturedListenAndSendExchangesByteForByte)
{
	const uint32_t l = bus.add_client(0, 0);
	auto hello = take(l);
	ASSERT_EQ(hello.size(), 1u);
	EXPECT_EQ(to_hex(hello[0]), to_hex(hex("00 00 00 00 " + be(l) + " 00 00 00 04")));

	// Anonymous object: DATA with the id first, then STATUS 0.
	auto r = feed(l, hex("00 06 00 01 00 00 00 00 00 00 00 04"));
	ASSERT_EQ(r.size(), 2u);
	ASSERT_EQ(r[0].size(), 20u);
	const uint32_t obj = (uint32_t(r[0][16]) << 24) | (uint32_t(r[0][17]) << 16) | (uint32_t(r[0][18]) << 8) | r[0][19];
	EXPECT_GE(obj, 1024u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex(with_obj("00 02 00 01 00 00 00 00 00 00 00 0c 03 00 00 08 91 ac 72 94", obj))));
	EXPECT_EQ(to_hex(r[1]), to_hex(hex("00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00")));

	r = feed(l, hex(with_obj("00 05 00 02 00 00 00 01 00 00 00 50 03 00 00 08 00 00 00 01"
				 "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 34"
				 "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				 "83 00 00 1b 00 07 70 61 74 74 65 72 6e 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00",
				 obj)));
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex("00 01 00 02 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00")));
	r = feed(l, hex(with_obj("00 05 00 03 00 00 00 01 00 00 00 4c 03 00 00 08 00 00 00 01"
				 "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 30"
				 "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				 "83 00 00 16 00 07 70 61 74 74 65 72 6e 00 00 00 6e 65 74 2e 2a 00 00 00",
				 obj)));
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex("00 01 00 03 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00")));

	// The sender: delivery goes out first, then the sender's STATUS.
	const uint32_t s = bus.add_client(0, 0);
	take(s);
	r = feed(s, hex("00 05 00 01 00 00 00 01 00 00 00 58 03 00 00 08 00 00 00 01"
			"04 00 00 09 73 65 6e 64 00 00 00 00 07 00 00 40"
			"83 00 00 17 00 02 69 64 00 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00"
			"82 00 00 24 00 04 64 61 74 61 00 00"
			"85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00"));
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex("00 01 00 01 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 00")));
	auto d = take(l);
	ASSERT_EQ(d.size(), 1u);
	EXPECT_EQ(to_hex(d[0]), to_hex(hex(with_obj("00 05 00 01 00 00 00 00 00 00 00 38 03 00 00 08 91 ac 72 94"
						    "04 00 00 0f 74 65 73 74 2e 65 76 65 6e 74 00 00 07 00 00 1c"
						    "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00",
						    obj))));
	// The listener's answer (peer 0) is taken silently.
	r = feed(l, hex(with_obj("00 01 00 01 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 91 ac 72 94", obj)));
	EXPECT_TRUE(r.empty());

	// Second event through the wildcard, with the global delivery counter at 2.
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, 1);
	blob_put_string(&b, UBUS_ATTR_METHOD, "send");
	void *dd = blob_nest_start(&b, UBUS_ATTR_DATA);
	blobmsg_add_string(&b, "id", "net.up");
	void *t = blobmsg_open_table(&b, "data");
	blobmsg_add_string(&b, "ifname", "eth0");
	blobmsg_add_u8(&b, "up", 1);
	blobmsg_close_table(&b, t);
	blob_nest_end(&b, dd);
	const uint32_t s2 = bus.add_client(0, 0);
	take(s2);
	r = feed(s2, msg(UBUS_MSG_INVOKE, 1, 1, b));
	blob_buf_free(&b);
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(status_of(r[0]), 0);
	d = take(l);
	ASSERT_EQ(d.size(), 1u);
	EXPECT_EQ(to_hex(d[0]), to_hex(hex(with_obj("00 05 00 02 00 00 00 00 00 00 00 44 03 00 00 08 91 ac 72 94"
						    "04 00 00 0b 6e 65 74 2e 75 70 00 00 07 00 00 2c"
						    "83 00 00 15 00 06 69 66 6e 61 6d 65 00 00 00 00 65 74 68 30 00 00 00 00"
						    "87 00 00 0d 00 02 75 70 00 00 00 00 01 00 00 00",
						    obj))));

	// Reserved names are refused, as captured.
	r = feed(s2, hex("00 05 00 01 00 00 00 01 00 00 00 40 03 00 00 08 00 00 00 01"
			 "04 00 00 09 73 65 6e 64 00 00 00 00 07 00 00 28"
			 "83 00 00 16 00 02 69 64 00 00 00 00 75 62 75 73 2e 66 61 6b 65 00 00 00"
			 "82 00 00 0c 00 04 64 61 74 61 00 00"));
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex("00 01 00 01 00 00 00 01 00 00 00 0c 01 00 00 08 00 00 00 06")));
	EXPECT_TRUE(take(l).empty());
}

TEST_F(BusTest, MonitorGetsCopiesOfBothDirections)
{
	bus.set_owner(4242, 4242);
	const uint32_t m = bus.add_client(0, 0);
	take(m);
	const Bytes add = hex("00 05 00 01 00 00 00 03 00 00 00 28 03 00 00 08 00 00 00 03 04 00 00 08 61 64 64 00"
			      "07 00 00 14 03 00 00 08 00 00 00 03 04 00 00 08 61 64 64 00");
	auto r = feed(m, add);
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(to_hex(r[0]), to_hex(hex("00 0b 00 01 00 00 00 00 00 00 00 38 00 00 00 08 " + be(m) +
					   "01 00 00 08 00 00 00 03 03 00 00 08 00 00 00 01 04 00 00 08 00 00 00 01"
					   "02 00 00 05 01 00 00 00 05 00 00 0c 01 00 00 08 00 00 00 00")));
	EXPECT_EQ(to_hex(r[1]), to_hex(hex("00 01 00 01 00 00 00 03 00 00 00 0c 01 00 00 08 00 00 00 00")));

	// A new client: its greeting is copied (SEND 1, TYPE 0, PEER = its id).
	const uint32_t c = bus.add_client(1000, 1000);
	take(c);
	auto copies = take(m);
	ASSERT_EQ(copies.size(), 1u);
	EXPECT_EQ(to_hex(copies[0]), to_hex(hex("00 0b 00 02 00 00 00 00 00 00 00 30 00 00 00 08 " + be(c) +
						"01 00 00 08 " + be(c) +
						"03 00 00 08 00 00 00 00 04 00 00 08 00 00 00 00"
						"02 00 00 05 01 00 00 00 05 00 00 04")));
	// A received message (SEND 0) and the answer (SEND 1).
	EXPECT_EQ(send(c, "x"), 0);
	copies = take(m);
	ASSERT_EQ(copies.size(), 2u);
	EXPECT_EQ(copies[0][8 + 4 + 8 * 4 + 4], 0); // SEND of the first copy
	EXPECT_EQ(copies[1][8 + 4 + 8 * 4 + 4], 1);

	// Non-root, not the owner: refused. The owner's identity may monitor.
	r = feed(c, add);
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(status_of(r[0]), UBUS_STATUS_PERMISSION_DENIED);
	const uint32_t o = bus.add_client(4242, 4242);
	take(o);
	r = feed(o, add);
	EXPECT_EQ(status_of(r.back()), 0);

	// "remove": the request is still copied, its answer no longer.
	take(m);
	r = feed(m, hex("00 05 00 02 00 00 00 03 00 00 00 1c 03 00 00 08 00 00 00 03 04 00 00 0b 72 65 6d 6f 76 65 00 00"
			"07 00 00 04"));
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_MONITOR);
	EXPECT_EQ(status_of(r[1]), 0);
	// Unknown monitor method.
	r = feed(o, hex("00 05 00 02 00 00 00 03 00 00 00 18 03 00 00 08 00 00 00 03 04 00 00 08 78 79 7a 00"
			"07 00 00 04"));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_METHOD_NOT_FOUND);
}

TEST_F(BusTest, PatternMatchingFollowsTheRuleTable)
{
	const char *patterns[] = {"a", "a*", "ab*", "*", "a*b", "a.b.*", "a.b", "x?y", "ab"};
	struct Row {
		const char *event;
		const char *marks; // one char per pattern: x = delivered
	} rows[] = {
		{"a", "xx.x....."},   {"ab", ".xxx....x"}, {"abc", ".xxx....."}, {"a.b", ".x.x..x.."},
		{"a.b.c", ".x.x.x..."}, {"a.bc", ".x.x....."}, {"b", "...x....."},  {"a*b", ".x.xx...."},
		{"axb", ".x.x....."}, {"x?y", "...x...x."}, {"xzy", "...x....."}, {"", "...x....."},
		{"A", "...x....."},
	};
	std::vector<uint32_t> clients;
	for (const char *p : patterns) {
		const uint32_t c = bus.add_client(0, 0);
		take(c);
		const uint32_t obj = add_object(c);
		ASSERT_EQ(reg(c, obj, p), 0) << p;
		clients.push_back(c);
	}
	const uint32_t sender = bus.add_client(0, 0);
	take(sender);
	for (const Row &row : rows) {
		ASSERT_EQ(send(sender, row.event), 0);
		for (size_t i = 0; i < clients.size(); i++) {
			auto got = take(clients[i]);
			EXPECT_EQ(got.size(), row.marks[i] == 'x' ? 1u : 0u)
				<< "event '" << row.event << "' pattern '" << patterns[i] << "'";
		}
	}
}

TEST_F(BusTest, OneCopyPerObjectAndNoneToTheSender)
{
	const uint32_t a = bus.add_client(0, 0);
	take(a);
	const uint32_t obj = add_object(a);
	const uint32_t obj2 = add_object(a);
	ASSERT_EQ(reg(a, obj, "a*"), 0);
	ASSERT_EQ(reg(a, obj, "a"), 0);
	ASSERT_EQ(reg(a, obj, "ab*"), 0);
	ASSERT_EQ(reg(a, obj, "a"), 0); // the same pattern twice is allowed
	ASSERT_EQ(reg(a, obj2, "*"), 0);
	const uint32_t b = bus.add_client(0, 0);
	take(b);
	const uint32_t objb = add_object(b);
	ASSERT_EQ(reg(b, objb, "*"), 0);

	// From b: one copy for each of a's two objects, none back to b.
	EXPECT_EQ(send(b, "ab"), 0);
	EXPECT_EQ(take(a).size(), 2u);
	EXPECT_TRUE(take(b).empty());
	// From a: only b hears it.
	EXPECT_EQ(send(a, "ab"), 0);
	EXPECT_TRUE(take(a).empty());
	EXPECT_EQ(take(b).size(), 1u);

	// Removing an object drops its patterns; a stranger may not remove it.
	struct blob_buf rb = {};
	blob_buf_init(&rb, 0);
	blob_put_int32(&rb, UBUS_ATTR_OBJID, obj);
	auto r = feed(b, msg(UBUS_MSG_REMOVE_OBJECT, 3, 0, rb));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_PERMISSION_DENIED);
	r = feed(a, msg(UBUS_MSG_REMOVE_OBJECT, 3, 0, rb));
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_DATA);
	EXPECT_EQ(status_of(r[1]), 0);
	r = feed(a, msg(UBUS_MSG_REMOVE_OBJECT, 4, 0, rb));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_NOT_FOUND);
	blob_buf_free(&rb);
	EXPECT_EQ(send(b, "ab"), 0);
	EXPECT_EQ(take(a).size(), 1u);

	// A client that goes away takes its objects and patterns along.
	bus.remove_client(a);
	EXPECT_EQ(bus.object_count(), 1u);
	EXPECT_EQ(bus.registration_count(), 1u);
	EXPECT_EQ(send(b, "ab"), 0);
}

TEST_F(BusTest, RefusedRequestsGetTheirStatusCodes)
{
	const uint32_t a = bus.add_client(0, 0);
	take(a);
	const uint32_t obj = add_object(a);
	const uint32_t b = bus.add_client(0, 0);
	take(b);
	EXPECT_EQ(reg(a, obj, ""), UBUS_STATUS_PERMISSION_DENIED);
	EXPECT_EQ(reg(a, obj, "x", true), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(reg(a, 5, "x"), UBUS_STATUS_PERMISSION_DENIED);
	EXPECT_EQ(reg(a, obj ^ 0x40000000u, "x"), UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(reg(b, obj, "x"), UBUS_STATUS_PERMISSION_DENIED);

	// Unknown method on the event object; INVOKE lacking METHOD; unknown object.
	struct blob_buf m = {};
	blob_buf_init(&m, 0);
	blob_put_int32(&m, UBUS_ATTR_OBJID, 1);
	blob_put_string(&m, UBUS_ATTR_METHOD, "frob");
	auto r = feed(a, msg(UBUS_MSG_INVOKE, 11, 1, m));
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(status_of(r[0]), UBUS_STATUS_INVALID_COMMAND);
	EXPECT_EQ(r[0][3], 11); // seq and peer copied
	EXPECT_EQ(r[0][7], 1);
	blob_buf_init(&m, 0);
	blob_put_int32(&m, UBUS_ATTR_OBJID, 1);
	r = feed(a, msg(UBUS_MSG_INVOKE, 12, 1, m));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_INVALID_ARGUMENT);
	blob_buf_init(&m, 0);
	blob_put_int32(&m, UBUS_ATTR_OBJID, 77777);
	blob_put_string(&m, UBUS_ATTR_METHOD, "x");
	r = feed(a, msg(UBUS_MSG_INVOKE, 13, 1, m));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_NOT_FOUND);
	// "send" without data, and with a METHOD that is not NUL-terminated (absent).
	blob_buf_init(&m, 0);
	blob_put_int32(&m, UBUS_ATTR_OBJID, 1);
	blob_put_string(&m, UBUS_ATTR_METHOD, "send");
	r = feed(a, msg(UBUS_MSG_INVOKE, 14, 1, m));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_INVALID_ARGUMENT);
	blob_buf_init(&m, 0);
	blob_put_int32(&m, UBUS_ATTR_OBJID, 1);
	blob_put(&m, UBUS_ATTR_METHOD, "send", 4);
	r = feed(a, msg(UBUS_MSG_INVOKE, 15, 1, m));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_INVALID_ARGUMENT);
	blob_buf_free(&m);

	// Types a client may not send, and a ping.
	r = feed(a, hex("00 00 00 05 00 00 00 00 00 00 00 04"));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_INVALID_COMMAND);
	r = feed(a, hex("00 0c 00 05 00 00 00 00 00 00 00 04"));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_INVALID_COMMAND);
	r = feed(a, hex("07 03 00 06 00 00 00 00 00 00 00 04")); // version is not checked
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_DATA);
	EXPECT_EQ(status_of(r[1]), 0);
}

TEST_F(BusTest, BadFramingDropsOnlyTheOffender)
{
	const uint32_t good = bus.add_client(0, 0);
	take(good);
	const uint32_t obj = add_object(good);
	ASSERT_EQ(reg(good, obj, "*"), 0);

	const uint32_t bad1 = bus.add_client(0, 0);
	take(bad1);
	std::string why;
	Bytes shortlen = hex("00 05 00 01 00 00 00 01 00 00 00 03");
	EXPECT_FALSE(bus.receive(bad1, shortlen.data(), shortlen.size(), why));
	EXPECT_NE(why.find("root length"), std::string::npos);
	bus.remove_client(bad1);

	const uint32_t bad2 = bus.add_client(0, 0);
	take(bad2);
	Bytes huge = hex("00 05 00 01 00 00 00 01 00 10 00 04");
	EXPECT_FALSE(bus.receive(bad2, huge.data(), huge.size(), why));
	EXPECT_NE(why.find("oversized"), std::string::npos);
	bus.remove_client(bad2);

	// A message fed one byte at a time is handled once it is whole.
	const uint32_t slow = bus.add_client(0, 0);
	take(slow);
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	blob_put_int32(&b, UBUS_ATTR_OBJID, 1);
	blob_put_string(&b, UBUS_ATTR_METHOD, "send");
	void *d = blob_nest_start(&b, UBUS_ATTR_DATA);
	blobmsg_add_string(&b, "id", "e");
	void *t = blobmsg_open_table(&b, "data");
	blobmsg_close_table(&b, t);
	blob_nest_end(&b, d);
	Bytes m = msg(UBUS_MSG_INVOKE, 1, 1, b);
	blob_buf_free(&b);
	for (size_t i = 0; i < m.size(); i++) {
		ASSERT_TRUE(bus.receive(slow, &m[i], 1, why));
		EXPECT_EQ(take(slow).empty(), i + 1 < m.size());
	}
	EXPECT_EQ(take(good).size(), 1u);

	// A listener that never reads: its queue stops growing at the bound.
	for (int i = 0; i < 40000; i++)
		ASSERT_TRUE(bus.receive(slow, m.data(), m.size(), why));
	EXPECT_LE(bus.client(good)->tx_bytes, ubusd::kMaxQueued);
	EXPECT_GT(bus.client(good)->dropped, 0u);
	EXPECT_FALSE(logs.empty());
}

} // namespace
