// The bus daemon's protocol: greeting, handler objects, the event object's
// "register" and "send", event delivery, the monitor object and monitor
// copies. Every length taken from a client is checked against the bytes
// received before it is used.

#include "bus.h"

#include <libubus.h>

#include "wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace ubusd {

namespace {

constexpr size_t kHdrLen = sizeof(struct ubus_msghdr);

using ubus_wire::be32_at;
using ubus_wire::envelope_policy;
using ubus_wire::pad4;

// A blob buffer released on scope exit.
struct Buf {
	struct blob_buf b = {};
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	Buf(const Buf &) = delete;
	Buf &operator=(const Buf &) = delete;
	const uint8_t *root() const { return reinterpret_cast<const uint8_t *>(b.head); }
	size_t root_len() const { return blob_raw_len(b.head); }
};

std::string hex32(uint32_t v)
{
	char s[16];
	snprintf(s, sizeof(s), "%08x", v);
	return s;
}

} // namespace

Bus::Bus(std::function<void(const std::string &)> log, uint32_t seed) : log_(std::move(log)), rng_(seed) {}

uint32_t Bus::new_id(bool object)
{
	for (;;) {
		const uint32_t id = rng_();
		if (id < UBUS_SYSTEM_OBJECT_MAX)
			continue;
		if (object ? objects_.count(id) : clients_.count(id))
			continue;
		return id;
	}
}

Client *Bus::client(uint32_t id)
{
	auto it = clients_.find(id);
	return it == clients_.end() ? nullptr : &it->second;
}

uint32_t Bus::add_client(uint32_t uid, uint32_t gid)
{
	const uint32_t id = new_id(false);
	Client &c = clients_[id];
	c.id = id;
	c.uid = uid;
	c.gid = gid;
	Buf b;
	queue(c, UBUS_MSG_HELLO, 0, id, b.root(), b.root_len());
	return id;
}

void Bus::remove_client(uint32_t id)
{
	auto it = clients_.find(id);
	if (it == clients_.end())
		return;
	Client &c = it->second;
	regs_.erase(std::remove_if(regs_.begin(), regs_.end(),
				   [&c](const Reg &r) { return c.objects.count(r.object) != 0; }),
		    regs_.end());
	for (uint32_t obj : c.objects)
		objects_.erase(obj);
	if (c.monitor)
		monitors_--;
	clients_.erase(it);
}

std::vector<uint32_t> Bus::clients_with_output() const
{
	std::vector<uint32_t> ids;
	for (const auto &[id, c] : clients_)
		if (!c.tx.empty())
			ids.push_back(id);
	return ids;
}

bool Bus::receive(uint32_t id, const uint8_t *data, size_t len, std::string &why)
{
	Client *cp = client(id);
	if (!cp) {
		why = "unknown client";
		return false;
	}
	cp->rx.insert(cp->rx.end(), data, data + len);
	size_t off = 0;
	bool ok = true;
	for (;;) {
		// The client may be gone only through remove_client, which is not
		// called from here, so cp stays valid.
		Bytes &rx = cp->rx;
		const size_t have = rx.size() - off;
		if (have < UBUS_WIRE_PREFIX_LEN)
			break;
		const uint8_t *p = rx.data() + off;
		const size_t root_len = be32_at(p + kHdrLen) & BLOB_ATTR_LEN_MASK;
		if (root_len < sizeof(struct blob_attr)) {
			why = "message with a root length of " + std::to_string(root_len);
			ok = false;
			break;
		}
		if (pad4(root_len) > UBUS_WIRE_MAX_MSGLEN) {
			why = "oversized message (" + std::to_string(root_len) + " bytes)";
			ok = false;
			break;
		}
		const size_t total = kHdrLen + root_len;
		if (have < total)
			break;
		// Work on a private copy: handling may queue to this client.
		Bytes msg(p, p + total);
		off += total;
		handle(*cp, msg.data(), msg.size());
	}
	cp->rx.erase(cp->rx.begin(), cp->rx.begin() + static_cast<ptrdiff_t>(off));
	return ok;
}

void Bus::queue_raw(Client &c, Bytes msg)
{
	if (c.tx_bytes + msg.size() > kMaxQueued) {
		if (c.dropped++ == 0)
			log_("client " + hex32(c.id) + " is not reading; dropping messages for it");
		return;
	}
	c.tx_bytes += msg.size();
	c.tx.push_back(std::move(msg));
}

void Bus::queue(Client &c, uint8_t type, uint16_t seq, uint32_t peer, const uint8_t *root, size_t root_len)
{
	struct ubus_msghdr hdr = {};
	hdr.version = 0;
	hdr.type = type;
	hdr.seq = cpu_to_be16(seq);
	hdr.peer = cpu_to_be32(peer);
	Bytes msg(kHdrLen + root_len);
	memcpy(msg.data(), &hdr, kHdrLen);
	memcpy(msg.data() + kHdrLen, root, root_len);
	if (type != UBUS_MSG_MONITOR && monitors_)
		monitor_copy(c, true, type, seq, peer, root + sizeof(struct blob_attr), root_len - sizeof(struct blob_attr));
	queue_raw(c, std::move(msg));
}

void Bus::monitor_copy(const Client &c, bool send, uint8_t type, uint16_t seq, uint32_t peer,
		       const uint8_t *payload, size_t payload_len)
{
	Buf b;
	blob_put_int32(&b.b, UBUS_MONITOR_CLIENT, c.id);
	blob_put_int32(&b.b, UBUS_MONITOR_PEER, peer);
	blob_put_int32(&b.b, UBUS_MONITOR_SEQ, seq);
	blob_put_int32(&b.b, UBUS_MONITOR_TYPE, type);
	blob_put_int8(&b.b, UBUS_MONITOR_SEND, send ? 1 : 0);
	blob_put(&b.b, UBUS_MONITOR_DATA, payload, static_cast<unsigned int>(payload_len));
	for (auto &[id, m] : clients_) {
		if (!m.monitor)
			continue;
		const uint16_t mseq = static_cast<uint16_t>(++m.monitor_seq);
		queue(m, UBUS_MSG_MONITOR, mseq, 0, b.root(), b.root_len());
	}
}

void Bus::status(Client &c, uint16_t seq, uint32_t peer, int code)
{
	Buf b;
	blob_put_int32(&b.b, UBUS_ATTR_STATUS, static_cast<uint32_t>(code));
	queue(c, UBUS_MSG_STATUS, seq, peer, b.root(), b.root_len());
}

void Bus::handle(Client &c, const uint8_t *msg, size_t len)
{
	struct ubus_msghdr hdr;
	memcpy(&hdr, msg, kHdrLen);
	const uint16_t seq = be16_to_cpu(hdr.seq);
	const uint32_t peer = be32_to_cpu(hdr.peer);
	// An aligned private copy of the root attribute.
	Bytes root(msg + kHdrLen, msg + len);
	auto *rootattr = reinterpret_cast<struct blob_attr *>(root.data());

	if (monitors_)
		monitor_copy(c, false, hdr.type, seq, peer, root.data() + sizeof(struct blob_attr),
			     root.size() - sizeof(struct blob_attr));

	struct blob_attr *tb[UBUS_ATTR_MAX];
	blob_parse_untrusted(rootattr, root.size(), tb, envelope_policy, UBUS_ATTR_MAX);

	switch (hdr.type) {
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA:
		// Answers to deliveries carry peer 0 and end here; this bus routes
		// no method calls, so other answers have no one to go to either.
		return;
	case UBUS_MSG_PING:
		queue(c, UBUS_MSG_DATA, seq, peer, root.data(), root.size());
		status(c, seq, peer, UBUS_STATUS_OK);
		return;
	case UBUS_MSG_LOOKUP:
		// Only anonymous objects live on this bus: nothing has a path.
		status(c, seq, peer, tb[UBUS_ATTR_OBJPATH] ? UBUS_STATUS_NOT_FOUND : UBUS_STATUS_OK);
		return;
	case UBUS_MSG_ADD_OBJECT: {
		if (tb[UBUS_ATTR_OBJPATH] || tb[UBUS_ATTR_SIGNATURE] || tb[UBUS_ATTR_OBJTYPE]) {
			status(c, seq, peer, UBUS_STATUS_NOT_SUPPORTED);
			return;
		}
		const uint32_t id = new_id(true);
		objects_[id] = c.id;
		c.objects.insert(id);
		Buf b;
		blob_put_int32(&b.b, UBUS_ATTR_OBJID, id);
		queue(c, UBUS_MSG_DATA, seq, peer, b.root(), b.root_len());
		status(c, seq, peer, UBUS_STATUS_OK);
		return;
	}
	case UBUS_MSG_REMOVE_OBJECT: {
		if (!tb[UBUS_ATTR_OBJID]) {
			status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
			return;
		}
		const uint32_t id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
		auto it = objects_.find(id);
		if (it == objects_.end()) {
			status(c, seq, peer, UBUS_STATUS_NOT_FOUND);
			return;
		}
		if (it->second != c.id) {
			status(c, seq, peer, UBUS_STATUS_PERMISSION_DENIED);
			return;
		}
		objects_.erase(it);
		c.objects.erase(id);
		regs_.erase(std::remove_if(regs_.begin(), regs_.end(), [id](const Reg &r) { return r.object == id; }),
			    regs_.end());
		Buf b;
		blob_put_int32(&b.b, UBUS_ATTR_OBJID, id);
		queue(c, UBUS_MSG_DATA, seq, peer, b.root(), b.root_len());
		status(c, seq, peer, UBUS_STATUS_OK);
		return;
	}
	case UBUS_MSG_INVOKE:
		handle_invoke(c, seq, peer, tb);
		return;
	case UBUS_MSG_SUBSCRIBE:
	case UBUS_MSG_UNSUBSCRIBE:
	case UBUS_MSG_NOTIFY:
		if (!tb[UBUS_ATTR_OBJID])
			status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
		else if (!objects_.count(blob_get_u32(tb[UBUS_ATTR_OBJID])))
			status(c, seq, peer, UBUS_STATUS_NOT_FOUND);
		else
			status(c, seq, peer, UBUS_STATUS_NOT_SUPPORTED);
		return;
	default:
		status(c, seq, peer, UBUS_STATUS_INVALID_COMMAND);
		return;
	}
}

void Bus::handle_invoke(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb)
{
	if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_METHOD]) {
		status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	const uint32_t obj = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	const char *method = blob_get_string(tb[UBUS_ATTR_METHOD]);

	if (obj == UBUS_SYSTEM_OBJECT_EVENT) {
		int code;
		if (!strcmp(method, "register"))
			code = event_register(c, tb[UBUS_ATTR_DATA]);
		else if (!strcmp(method, "send"))
			code = event_send(c, tb[UBUS_ATTR_DATA]);
		else
			code = UBUS_STATUS_INVALID_COMMAND;
		status(c, seq, peer, code);
		return;
	}
	if (obj == UBUS_SYSTEM_OBJECT_MONITOR) {
		// The data of these calls is not looked at.
		const bool allowed = (c.uid == 0 && c.gid == 0) || (c.uid == owner_uid_ && c.gid == owner_gid_);
		if (!allowed) {
			status(c, seq, peer, UBUS_STATUS_PERMISSION_DENIED);
		} else if (!strcmp(method, "add")) {
			if (!c.monitor) {
				c.monitor = true;
				monitors_++;
			}
			status(c, seq, peer, UBUS_STATUS_OK);
		} else if (!strcmp(method, "remove")) {
			if (c.monitor) {
				c.monitor = false;
				monitors_--;
			}
			status(c, seq, peer, UBUS_STATUS_OK);
		} else {
			status(c, seq, peer, UBUS_STATUS_METHOD_NOT_FOUND);
		}
		return;
	}
	// Handler objects take no method calls on this bus.
	status(c, seq, peer, objects_.count(obj) ? UBUS_STATUS_NOT_SUPPORTED : UBUS_STATUS_NOT_FOUND);
}

int Bus::event_register(Client &c, struct blob_attr *data)
{
	enum { R_OBJECT, R_PATTERN, R_MAX };
	static const struct blobmsg_policy policy[R_MAX] = {
		{"object", BLOBMSG_TYPE_INT32},
		{"pattern", BLOBMSG_TYPE_STRING},
	};
	struct blob_attr *tb[R_MAX] = {};
	if (data)
		blobmsg_parse(policy, R_MAX, tb, blob_data(data), static_cast<unsigned int>(blob_len(data)));
	if (!tb[R_OBJECT] || !tb[R_PATTERN])
		return UBUS_STATUS_INVALID_ARGUMENT;
	const uint32_t obj = blobmsg_get_u32(tb[R_OBJECT]);
	if (obj < UBUS_SYSTEM_OBJECT_MAX)
		return UBUS_STATUS_PERMISSION_DENIED;
	auto it = objects_.find(obj);
	if (it == objects_.end())
		return UBUS_STATUS_NOT_FOUND;
	if (it->second != c.id)
		return UBUS_STATUS_PERMISSION_DENIED;
	std::string pattern(blobmsg_get_string(tb[R_PATTERN]));
	if (pattern.empty())
		return UBUS_STATUS_PERMISSION_DENIED;
	Reg r;
	r.prefix = pattern.back() == '*';
	if (r.prefix)
		pattern.pop_back();
	r.pattern = std::move(pattern);
	r.object = obj;
	auto pos = std::upper_bound(regs_.begin(), regs_.end(), r,
				    [](const Reg &a, const Reg &b) { return a.pattern < b.pattern; });
	regs_.insert(pos, std::move(r));
	return UBUS_STATUS_OK;
}

int Bus::event_send(Client &c, struct blob_attr *data)
{
	enum { S_ID, S_DATA, S_MAX };
	static const struct blobmsg_policy policy[S_MAX] = {
		{"id", BLOBMSG_TYPE_STRING},
		{"data", BLOBMSG_TYPE_TABLE},
	};
	struct blob_attr *tb[S_MAX] = {};
	if (data)
		blobmsg_parse(policy, S_MAX, tb, blob_data(data), static_cast<unsigned int>(blob_len(data)));
	if (!tb[S_ID] || !tb[S_DATA])
		return UBUS_STATUS_INVALID_ARGUMENT;
	const std::string name(blobmsg_get_string(tb[S_ID]));
	if (name.compare(0, 5, "ubus.") == 0)
		return UBUS_STATUS_PERMISSION_DENIED;

	Buf b;
	bool built = false;
	std::set<uint32_t> served;
	for (const Reg &r : regs_) {
		const bool match = r.prefix ? name.compare(0, r.pattern.size(), r.pattern) == 0 : name == r.pattern;
		if (!match)
			continue;
		auto owner = objects_.find(r.object);
		if (owner == objects_.end() || owner->second == c.id || served.count(r.object))
			continue;
		served.insert(r.object);
		Client *dest = client(owner->second);
		if (!dest)
			continue;
		if (!built) {
			blob_put_int32(&b.b, UBUS_ATTR_OBJID, 0);
			blob_put_string(&b.b, UBUS_ATTR_METHOD, name.c_str());
			blob_put(&b.b, UBUS_ATTR_DATA, blobmsg_data(tb[S_DATA]),
				 static_cast<unsigned int>(blobmsg_data_len(tb[S_DATA])));
			built = true;
		}
		// The first attribute is the object id: patch it per listener.
		const uint32_t be = cpu_to_be32(r.object);
		auto *objattr = static_cast<struct blob_attr *>(blob_data(b.b.head));
		memcpy(blob_data(objattr), &be, sizeof(be));
		queue(*dest, UBUS_MSG_INVOKE, ++event_seq_, 0, b.root(), b.root_len());
	}
	return UBUS_STATUS_OK;
}

} // namespace ubusd
