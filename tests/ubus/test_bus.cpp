// The bus daemon's protocol handling, driven in-process: the captured
// exchanges byte for byte, pattern matching, permissions, refused requests,
// objects, types, lookups and relayed calls, split input and the bound of a
// queue nobody reads.

#include <gtest/gtest.h>

#include <libubus.h>

#include "bus.h"
#include "test_util.h"
#include "../common/transcript.h"

#include <cstring>
#include <functional>
#include <string>

using namespace ubustest;

namespace {

std::string be(uint32_t v)
{
	return to_hex({uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// The captured texts name their own ids (the listener's object 91ac7294,
// the demo object 6210aced, its type 2db7a113, the caller a8cbfc2a); ours
// differ.
std::string with_obj(std::string text, uint32_t obj, uint32_t type = 0, uint32_t caller = 0)
{
	const std::pair<const char *, uint32_t> ids[] = {
		{"91 ac 72 94", obj}, {"62 10 ac ed", obj}, {"2d b7 a1 13", type}, {"a8 cb fc 2a", caller}};
	for (const auto &[from, to] : ids)
		for (size_t at; (at = text.find(from)) != std::string::npos;)
			text.replace(at, 11, be(to));
	return text;
}

class BusTest : public ::testing::Test {
protected:
	std::vector<std::string> logs;
	ubusd::Bus bus{[this](const std::string &s) { logs.push_back(s); }, 12345};

	uint32_t client(uint32_t uid = 0)
	{
		const uint32_t id = bus.add_client(uid, uid);
		take(id);
		return id;
	}
	// Feeds bytes and returns what the client was sent in answer.
	std::vector<Bytes> feed(uint32_t id, const Bytes &msg)
	{
		std::string why;
		EXPECT_TRUE(bus.receive(id, msg.data(), msg.size(), why)) << why;
		return take(id);
	}
	std::vector<Bytes> take(uint32_t id)
	{
		ubusd::Client *c = bus.client(id);
		if (!c)
			return {};
		std::vector<Bytes> out(c->tx.begin(), c->tx.end());
		c->tx.clear();
		c->tx_bytes = 0;
		return out;
	}
	static uint32_t u32_at(const Bytes &m, size_t at)
	{
		return (uint32_t(m[at]) << 24) | (uint32_t(m[at + 1]) << 16) | (uint32_t(m[at + 2]) << 8) | m[at + 3];
	}
	uint32_t add_object(uint32_t client)
	{
		auto r = feed(client, hex("00 06 00 01 00 00 00 00 00 00 00 04"));
		return r.size() == 2 && r[0].size() == 20 ? u32_at(r[0], 16) : 0;
	}
	// Messages as hex lines, to compare whole answers at once.
	static std::string lines(const std::vector<Bytes> &ms)
	{
		std::string s;
		for (const Bytes &m : ms)
			s += to_hex(m) + "\n";
		return s;
	}
	static int status_of(const Bytes &m) { return m.size() < 20 || m[1] != UBUS_MSG_STATUS ? -1 : m[19]; }
	// A message whose envelope `fill` writes.
	static Bytes msg(uint8_t type, uint16_t seq, uint32_t peer, const std::function<void(struct blob_buf *)> &fill)
	{
		Buf b;
		fill(&b.b);
		Bytes m = {0, type, uint8_t(seq >> 8), uint8_t(seq)};
		m.resize(8 + blob_raw_len(b.b.head));
		for (int i = 0; i < 4; i++)
			m[4 + i] = uint8_t(peer >> (24 - 8 * i));
		memcpy(m.data() + 8, b.b.head, m.size() - 8);
		return m;
	}
	// An INVOKE of `method` (none when null) on object `obj`; `data` fills DATA.
	static Bytes invoke(uint16_t seq, uint32_t obj, const char *method,
			    const std::function<void(struct blob_buf *)> &data = nullptr)
	{
		return msg(UBUS_MSG_INVOKE, seq, 1, [&](struct blob_buf *b) {
			blob_put_int32(b, UBUS_ATTR_OBJID, obj);
			if (method)
				blob_put_string(b, UBUS_ATTR_METHOD, method);
			if (data) {
				void *d = blob_nest_start(b, UBUS_ATTR_DATA);
				data(b);
				blob_nest_end(b, d);
			}
		});
	}
	// ADD_OBJECT of `path` (none when empty) with a one-method signature,
	// or with type id `type` when it is not 0.
	std::vector<Bytes> add_named(uint32_t c, const std::string &path, uint32_t type = 0)
	{
		return feed(c, msg(UBUS_MSG_ADD_OBJECT, 4, 0, [&](struct blob_buf *b) {
			if (!path.empty())
				blob_put_string(b, UBUS_ATTR_OBJPATH, path.c_str());
			if (type) {
				blob_put_int32(b, UBUS_ATTR_OBJTYPE, type);
				return;
			}
			void *sig = blob_nest_start(b, UBUS_ATTR_SIGNATURE);
			blobmsg_close_table(b, blobmsg_open_table(b, "m"));
			blob_nest_end(b, sig);
		}));
	}
	// The paths a LOOKUP lists (with status), as "a b = 0".
	std::string listed(uint32_t c, const char *path)
	{
		std::string out;
		for (const Bytes &m : feed(c, msg(UBUS_MSG_LOOKUP, 5, 0, [&](struct blob_buf *b) {
			     if (path)
				     blob_put_string(b, UBUS_ATTR_OBJPATH, path);
		     })))
			out += m[1] == UBUS_MSG_DATA ? std::string(reinterpret_cast<const char *>(&m[16])) + " "
						     : "= " + std::to_string(status_of(m));
		return out;
	}
	static Bytes send_msg(const char *name)
	{
		return invoke(9, 1, "send", [name](struct blob_buf *b) {
			blobmsg_add_string(b, "id", name);
			blobmsg_close_table(b, blobmsg_open_table(b, "data"));
		});
	}
	int reg(uint32_t c, uint32_t obj, const char *pattern, bool int64 = false)
	{
		auto r = feed(c, invoke(7, 1, "register", [&](struct blob_buf *b) {
			int64 ? blobmsg_add_u64(b, "object", obj) : blobmsg_add_u32(b, "object", obj);
			blobmsg_add_string(b, "pattern", pattern);
		}));
		return r.size() == 1 ? status_of(r[0]) : -1;
	}
	int send(uint32_t c, const char *name)
	{
		auto r = feed(c, send_msg(name));
		return r.size() == 1 ? status_of(r[0]) : -1;
	}
};

TEST_F(BusTest, CapturedListenAndSendExchangesByteForByte)
{
	const uint32_t l = bus.add_client(0, 0);
	EXPECT_EQ(lines(take(l)), lines({hex("00 00 00 00 " + be(l) + " 00 00 00 04")}));

	// Anonymous object: DATA with the id first, then STATUS 0.
	auto r = feed(l, hex("00 06 00 01 00 00 00 00 00 00 00 04"));
	ASSERT_EQ(r.size(), 2u);
	ASSERT_EQ(r[0].size(), 20u);
	const uint32_t obj = u32_at(r[0], 16);
	EXPECT_GE(obj, 1024u);
	EXPECT_EQ(lines(r), lines({hex(with_obj("00 02 00 01 00 00 00 00 00 00 00 0c 03 00 00 08 91 ac 72 94", obj)),
				   hex("00 01 00 01 00 00 00 00 00 00 00 0c 01 00 00 08 00 00 00 00")}));
	EXPECT_EQ(lines(feed(l, hex(with_obj(kRegister, obj)))), lines({hex("00 01 00 02" + kOk)}));
	EXPECT_EQ(lines(feed(l, hex(with_obj(kRegister2, obj)))), lines({hex("00 01 00 03" + kOk)}));

	// The sender: delivery goes out first, then the sender's STATUS; the
	// listener's answer (peer 0) is taken silently.
	const uint32_t s = client();
	EXPECT_EQ(lines(feed(s, hex(kSend))), lines({hex("00 01 00 01" + kOk)}));
	EXPECT_EQ(lines(take(l)), lines({hex(with_obj(kDelivery, obj))}));
	EXPECT_TRUE(feed(l, hex(with_obj(kDeliveryAnswer, obj))).empty());
	// Again: the bus-wide delivery counter is at 2.
	EXPECT_EQ(lines(feed(s, hex(kSend))), lines({hex("00 01 00 01" + kOk)}));
	EXPECT_EQ(lines(take(l)), lines({hex(with_obj("00 05 00 02" + kDelivery.substr(12), obj))}));

	// Reserved names are refused, as captured.
	EXPECT_EQ(lines(feed(s, hex(captured("RESERVED")))), lines({hex(captured("DENIED"))}));
	EXPECT_TRUE(take(l).empty());
}

TEST_F(BusTest, MonitorCopiesAndWhoMayMonitor)
{
	bus.set_owner(4242, 4242);
	const uint32_t m = client();
	const Bytes add = hex(captured("MON_ADD"));
	EXPECT_EQ(lines(feed(m, add)), lines({hex(with_obj(captured("MON_COPY"), m)), hex(captured("MON_ADDED"))}));

	// Non-root, not the owner: refused. The owner's identity may monitor.
	const uint32_t c = client(1000);
	auto r = feed(c, add);
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(status_of(r[0]), UBUS_STATUS_PERMISSION_DENIED);
	const uint32_t o = client(4242);
	EXPECT_EQ(status_of(feed(o, add).back()), 0);

	// "remove": the request is still copied, its answer no longer.
	take(m);
	r = feed(m, hex(captured("MON_REMOVE")));
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_MONITOR);
	EXPECT_EQ(status_of(r[1]), 0);
	r = feed(o, hex(captured("MON_XYZ")));
	EXPECT_EQ(status_of(r.back()), UBUS_STATUS_METHOD_NOT_FOUND);
}

TEST_F(BusTest, PatternMatchingFollowsTheRuleTable)
{
	std::vector<std::string> patterns;
	std::vector<uint32_t> clients;
	const uint32_t sender = client();
	transcript::play("ubus/patterns.txt", {}, [&](const std::string &line) {
		const std::vector<std::string> w = transcript::words(line);
		if (patterns.empty()) {
			patterns = w;
			for (const std::string &p : patterns) {
				clients.push_back(client());
				ASSERT_EQ(reg(clients.back(), add_object(clients.back()), p.c_str()), 0) << p;
			}
			return;
		}
		ASSERT_EQ(send(sender, w[0].c_str()), 0);
		for (size_t i = 0; i < clients.size(); i++)
			EXPECT_EQ(take(clients[i]).size(), w[1].at(i) == 'x' ? 1u : 0u) << "pattern '" << patterns[i] << "'";
	});
}

TEST_F(BusTest, OneCopyPerObjectAndNoneToTheSender)
{
	const uint32_t a = client();
	const uint32_t obj = add_object(a), obj2 = add_object(a);
	for (const char *p : {"a*", "a", "ab*", "a"}) // the same pattern twice is allowed
		ASSERT_EQ(reg(a, obj, p), 0);
	ASSERT_EQ(reg(a, obj2, "*"), 0);
	const uint32_t b = client();
	ASSERT_EQ(reg(b, add_object(b), "*"), 0);

	// From b: one copy for each of a's two objects, none back to b.
	EXPECT_EQ(send(b, "ab"), 0);
	EXPECT_EQ(take(a).size(), 2u);
	EXPECT_TRUE(take(b).empty());
	// From a: only b hears it.
	EXPECT_EQ(send(a, "ab"), 0);
	EXPECT_TRUE(take(a).empty());
	EXPECT_EQ(take(b).size(), 1u);

	// Removing an object drops its patterns; a stranger may not remove it.
	const Bytes remove = hex("00 07 00 03 00 00 00 00 00 00 00 0c 03 00 00 08 " + be(obj));
	EXPECT_EQ(status_of(feed(b, remove).back()), UBUS_STATUS_PERMISSION_DENIED);
	auto r = feed(a, remove);
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_DATA);
	EXPECT_EQ(status_of(r[1]), 0);
	EXPECT_EQ(status_of(feed(a, remove).back()), UBUS_STATUS_NOT_FOUND);
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
	const uint32_t a = client(), b = client();
	const uint32_t obj = add_object(a);
	EXPECT_EQ(reg(a, obj, ""), UBUS_STATUS_PERMISSION_DENIED);
	EXPECT_EQ(reg(a, obj, "x", true), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(reg(a, 5, "x"), UBUS_STATUS_PERMISSION_DENIED);
	EXPECT_EQ(reg(a, obj ^ 0x40000000u, "x"), UBUS_STATUS_NOT_FOUND);
	EXPECT_EQ(reg(b, obj, "x"), UBUS_STATUS_PERMISSION_DENIED);

	const struct {
		Bytes msg;
		int status;
	} cases[] = {
		{invoke(11, 1, "frob"), UBUS_STATUS_INVALID_COMMAND},  // unknown method of the event object
		{invoke(12, 1, nullptr), UBUS_STATUS_INVALID_ARGUMENT}, // no METHOD
		{invoke(13, 77777, "x"), UBUS_STATUS_NOT_FOUND},         // unknown object
		{invoke(14, 1, "send"), UBUS_STATUS_INVALID_ARGUMENT},   // "send" without DATA
		// METHOD "send" without its NUL counts as absent.
		{hex(captured("SEND_NO_NUL")), UBUS_STATUS_INVALID_ARGUMENT},
		// Types a client may not send.
		{hex("00 00 00 05 00 00 00 00 00 00 00 04"), UBUS_STATUS_INVALID_COMMAND},
		{hex("00 0c 00 05 00 00 00 00 00 00 00 04"), UBUS_STATUS_INVALID_COMMAND},
	};
	for (const auto &c : cases) {
		auto r = feed(a, c.msg);
		ASSERT_EQ(r.size(), 1u) << to_hex(c.msg);
		EXPECT_EQ(status_of(r[0]), c.status) << to_hex(c.msg);
		EXPECT_EQ(to_hex(Bytes(r[0].begin() + 2, r[0].begin() + 8)), to_hex(Bytes(c.msg.begin() + 2, c.msg.begin() + 8)))
			<< "seq and peer copied";
	}
	auto r = feed(a, hex("07 03 00 06 00 00 00 00 00 00 00 04")); // a ping; the version is not checked
	ASSERT_EQ(r.size(), 2u);
	EXPECT_EQ(r[0][1], UBUS_MSG_DATA);
	EXPECT_EQ(status_of(r[1]), 0);
}

TEST_F(BusTest, InputByteByByteAndTheBoundOfAnUnreadQueue)
{
	const uint32_t good = client();
	ASSERT_EQ(reg(good, add_object(good), "*"), 0);

	// A message fed one byte at a time is handled once it is whole.
	std::string why;
	const uint32_t slow = client();
	Bytes m = send_msg("e");
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

TEST_F(BusTest, CapturedObjectExchangesByteForByte)
{
	const uint32_t owner = client(), caller = client();
	auto r = feed(owner, hex(captured("ADD_DEMO")));
	ASSERT_EQ(r.size(), 2u);
	ASSERT_EQ(r[0].size(), 28u);
	const uint32_t obj = u32_at(r[0], 16), type = u32_at(r[0], 24);
	auto ids = [&](const char *name) { return hex(with_obj(captured(name), obj, type, caller)); };
	auto ok = [](int seq) { return hex("00 01 00 0" + std::to_string(seq) + " 00 00 00 00" + kOk.substr(12)); };
	EXPECT_EQ(lines(r), lines({ids("ADDED_DEMO"), ok(1)}));
	EXPECT_EQ(lines(feed(caller, hex(captured("LOOKUP_DEMO")))), lines({ids("LISTED_DEMO"), ok(1)}));

	// The call goes to the owner with the caller's seq and id; the daemon
	// itself says nothing. The answers come back with the object as peer.
	EXPECT_TRUE(feed(caller, ids("CALL_DEMO")).empty());
	EXPECT_EQ(lines(take(owner)), lines({ids("FORWARDED_DEMO")}));
	EXPECT_TRUE(feed(owner, ids("REPLY_DATA")).empty());
	EXPECT_TRUE(feed(owner, ids("REPLY_STATUS")).empty());
	Bytes data = ids("REPLY_DATA"), st = ids("REPLY_STATUS");
	for (Bytes *m : {&data, &st}) // the caller's id as peer gives way to the object's
		std::copy(st.end() - 4, st.end(), m->begin() + 4);
	EXPECT_EQ(lines(take(caller)), lines({data, st}));

	EXPECT_EQ(lines(feed(owner, ids("REMOVE_DEMO"))), lines({ids("REMOVED_DEMO"), ok(2)}));
	EXPECT_EQ(bus.type_count(), 0u);
}

TEST_F(BusTest, TypesPathsLookupsAndObjectEvents)
{
	const uint32_t a = client(), b = client();
	const uint32_t la = add_object(a);
	ASSERT_EQ(reg(a, la, "ubus.object.*"), 0);

	// The adder hears its own object's event before its answer.
	auto r = add_named(a, "b.x");
	ASSERT_EQ(r.size(), 3u);
	EXPECT_EQ(r[0][1], UBUS_MSG_INVOKE);
	EXPECT_EQ(r[1].size(), 28u) << "DATA with the new type";
	const uint32_t first = u32_at(r[1], 16), type = u32_at(r[1], 24);
	// A known type is reused (no type in the answer); the path "b.x" is taken.
	for (const char *path : {"a", "a.b", "ab"})
		EXPECT_EQ(add_named(b, path, type).front().size(), 20u) << path;
	r = add_named(b, "b.x");
	ASSERT_EQ(r.size(), 1u);
	EXPECT_EQ(status_of(r[0]), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(add_named(b, "a.u", 12345).size(), 2u) << "unknown type: added, without type";
	EXPECT_EQ(add_named(b, "").size(), 2u) << "no path";
	take(a);

	transcript::play("ubus/lookups.txt", {}, [&](const std::string &line) {
		const std::string path = transcript::words(line)[0];
		EXPECT_EQ(listed(b, path == "-" ? nullptr : path.c_str()), line.substr(line.find('|') + 2)) << line;
	});

	// Removing: the type is named only with its last object; the removal
	// event comes between DATA and STATUS.
	r = feed(a, hex("00 07 00 03 00 00 00 00 00 00 00 0c 03 00 00 08 " + be(first)));
	ASSERT_EQ(r.size(), 3u);
	EXPECT_EQ(r[0].size(), 20u);
	EXPECT_EQ(r[1][1], UBUS_MSG_INVOKE);
	EXPECT_EQ(status_of(r[2]), 0);
	EXPECT_EQ(bus.type_count(), 2u) << "the shared one and the path-less object's";

	// A relay needs the object of the sender and a live peer; else silence.
	EXPECT_TRUE(feed(b, hex("00 01 00 01" + be(b) + " 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08" + be(la))).empty());
	EXPECT_TRUE(take(b).empty());

	// The owner goes: its named objects are announced newest first.
	bus.remove_client(b);
	std::string paths;
	for (Bytes &m : take(a)) { // an event's path is the message's last text
		std::string t(m.begin(), m.begin() + m.size() - (m.back() ? 0 : 1));
		t.erase(t.find_last_not_of('\0') + 1);
		paths += t.substr(t.rfind('\0') + 1) + " ";
	}
	EXPECT_EQ(paths, "a.u ab a.b a ");
	EXPECT_EQ(bus.type_count(), 0u);
	EXPECT_EQ(bus.object_count(), 1u);
}

} // namespace
