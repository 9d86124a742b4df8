// The bus daemon's protocol: greeting, objects (anonymous or named, with
// their types), lookup, method calls forwarded to their owners and their
// replies relayed back, the event object's "register" and "send", event
// delivery (the object events included), the monitor object and monitor
// copies. Every length taken from a client is checked against the bytes
// received before it is used.

#include "bus.h"

#include <libubus.h>

#include "wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include <grp.h>
#include <pwd.h>

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

uint32_t Bus::new_id(IdSet set)
{
	for (;;) {
		const uint32_t id = rng_();
		if (id < UBUS_SYSTEM_OBJECT_MAX)
			continue;
		if (set == IdSet::object ? objects_.count(id) != 0
		    : set == IdSet::type ? types_.count(id) != 0
					 : clients_.count(id) != 0)
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
	const uint32_t id = new_id(IdSet::client);
	Client &c = clients_[id];
	c.id = id;
	c.uid = uid;
	c.gid = gid;
	// Names as the system knows them (looked up once per id); the number
	// where it knows none.
	std::string &user = user_names_[uid], &group = group_names_[gid];
	if (user.empty()) {
		const struct passwd *pw = getpwuid(uid);
		user = pw ? pw->pw_name : std::to_string(uid);
	}
	if (group.empty()) {
		const struct group *gr = getgrgid(gid);
		group = gr ? gr->gr_name : std::to_string(gid);
	}
	c.user = user;
	c.group = group;
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
	if (c.monitor)
		monitors_--;
	c.monitor = false;
	// Newest object first, each announced as it goes.
	std::vector<uint32_t> mine(c.objects.begin(), c.objects.end());
	std::sort(mine.begin(), mine.end(),
		  [this](uint32_t a, uint32_t b) { return objects_[a].serial > objects_[b].serial; });
	for (uint32_t obj : mine)
		free_object(obj);
	clients_.erase(id);
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
		relay(c, hdr.type, seq, peer, tb, root);
		return;
	case UBUS_MSG_PING:
		queue(c, UBUS_MSG_DATA, seq, peer, root.data(), root.size());
		status(c, seq, peer, UBUS_STATUS_OK);
		return;
	case UBUS_MSG_LOOKUP:
		lookup(c, seq, peer, tb);
		return;
	case UBUS_MSG_ADD_OBJECT:
		add_object(c, seq, peer, tb);
		return;
	case UBUS_MSG_REMOVE_OBJECT:
		remove_object(c, seq, peer, tb);
		return;
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
	auto it = objects_.find(obj);
	Client *owner = it == objects_.end() ? nullptr : client(it->second.owner);
	if (!owner) {
		status(c, seq, peer, UBUS_STATUS_NOT_FOUND);
		return;
	}
	// Forwarded with the caller's seq and id; the owner's replies come back
	// through relay(). Nothing else of the caller's message goes along.
	Buf b;
	blob_put_int32(&b.b, UBUS_ATTR_OBJID, obj);
	blob_put_string(&b.b, UBUS_ATTR_METHOD, method);
	blob_put_string(&b.b, UBUS_ATTR_USER, c.user.c_str());
	blob_put_string(&b.b, UBUS_ATTR_GROUP, c.group.c_str());
	if (tb[UBUS_ATTR_DATA])
		blob_put(&b.b, UBUS_ATTR_DATA, blob_data(tb[UBUS_ATTR_DATA]),
			 static_cast<unsigned int>(blob_len(tb[UBUS_ATTR_DATA])));
	queue(*owner, UBUS_MSG_INVOKE, seq, c.id, b.root(), b.root_len());
}

void Bus::relay(Client &c, uint8_t type, uint16_t seq, uint32_t peer, struct blob_attr **tb, const Bytes &root)
{
	// Answers to event deliveries carry peer 0 and end here, as does any
	// reply that is not for a live client about an object of the sender's.
	if (!tb[UBUS_ATTR_OBJID] || !tb[type == UBUS_MSG_STATUS ? UBUS_ATTR_STATUS : UBUS_ATTR_DATA])
		return;
	const uint32_t obj = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	auto it = objects_.find(obj);
	Client *dest = client(peer);
	if (it == objects_.end() || it->second.owner != c.id || !dest)
		return;
	queue(*dest, type, seq, obj, root.data(), root.size());
}

void Bus::add_object(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb)
{
	uint32_t type = 0;
	if (tb[UBUS_ATTR_OBJTYPE]) {
		// An unknown type id is no error: the object just has no type.
		auto t = types_.find(blob_get_u32(tb[UBUS_ATTR_OBJTYPE]));
		if (t != types_.end()) {
			type = t->first;
			t->second.refs++;
		}
	} else if (struct blob_attr *sig = tb[UBUS_ATTR_SIGNATURE]) {
		// Every method entry must be a named blobmsg attribute; what it
		// holds is kept as it is.
		bool ok = true;
		struct blob_attr *cur;
		size_t rem;
		blob_for_each_attr(cur, sig, rem)
			ok = ok && blobmsg_check_attr(cur, true);
		if (ok) {
			type = new_id(IdSet::type);
			Type &t = types_[type];
			const auto *p = static_cast<const uint8_t *>(blob_data(sig));
			t.signature.assign(p, p + blob_len(sig));
			t.refs = 1;
		}
	}
	const uint32_t id = new_id(IdSet::object);
	Object &o = objects_[id];
	o.owner = c.id;
	o.type = type;
	o.serial = ++serial_;
	c.objects.insert(id);
	if (tb[UBUS_ATTR_OBJPATH]) {
		o.path = blob_get_string(tb[UBUS_ATTR_OBJPATH]);
		o.has_path = true;
		if (!paths_.emplace(o.path, id).second) {
			o.has_path = false;
			free_object(id);
			status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
			return;
		}
		object_event("ubus.object.add", id, o.path);
	}
	Buf b;
	blob_put_int32(&b.b, UBUS_ATTR_OBJID, id);
	if (tb[UBUS_ATTR_SIGNATURE] && type)
		blob_put_int32(&b.b, UBUS_ATTR_OBJTYPE, type);
	queue(c, UBUS_MSG_DATA, seq, peer, b.root(), b.root_len());
	status(c, seq, peer, UBUS_STATUS_OK);
}

void Bus::remove_object(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb)
{
	if (!tb[UBUS_ATTR_OBJID]) {
		status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	const uint32_t id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	if (id == UBUS_SYSTEM_OBJECT_EVENT || id == UBUS_SYSTEM_OBJECT_ACL || id == UBUS_SYSTEM_OBJECT_MONITOR) {
		status(c, seq, peer, UBUS_STATUS_PERMISSION_DENIED);
		return;
	}
	auto it = objects_.find(id);
	if (it == objects_.end()) {
		status(c, seq, peer, UBUS_STATUS_NOT_FOUND);
		return;
	}
	if (it->second.owner != c.id) {
		status(c, seq, peer, UBUS_STATUS_PERMISSION_DENIED);
		return;
	}
	// The type goes along in the answer when this was its last object, so
	// that the library sends the signature again next time.
	const uint32_t type = it->second.type;
	const bool last = type && types_[type].refs == 1;
	Buf b;
	blob_put_int32(&b.b, UBUS_ATTR_OBJID, id);
	if (last)
		blob_put_int32(&b.b, UBUS_ATTR_OBJTYPE, type);
	queue(c, UBUS_MSG_DATA, seq, peer, b.root(), b.root_len());
	free_object(id);
	status(c, seq, peer, UBUS_STATUS_OK);
}

bool Bus::free_object(uint32_t id)
{
	auto it = objects_.find(id);
	if (it == objects_.end())
		return false;
	const Object o = it->second;
	objects_.erase(it);
	if (Client *owner = client(o.owner))
		owner->objects.erase(id);
	regs_.erase(std::remove_if(regs_.begin(), regs_.end(), [id](const Reg &r) { return r.object == id; }),
		    regs_.end());
	bool last = false;
	if (o.type) {
		auto t = types_.find(o.type);
		if (t != types_.end() && --t->second.refs == 0) {
			types_.erase(t);
			last = true;
		}
	}
	if (o.has_path) {
		paths_.erase(o.path);
		object_event("ubus.object.remove", id, o.path);
	}
	return last;
}

void Bus::object_event(const char *name, uint32_t id, const std::string &path)
{
	Buf b;
	blobmsg_add_u32(&b.b, "id", id);
	blobmsg_add_string(&b.b, "path", path.c_str());
	deliver(name, blob_data(b.b.head), blob_len(b.b.head), 0);
}

void Bus::lookup(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb)
{
	std::string want;
	bool all = true, prefix = false;
	if (tb[UBUS_ATTR_OBJPATH]) {
		all = false;
		want = blob_get_string(tb[UBUS_ATTR_OBJPATH]);
		if (want.empty()) {
			status(c, seq, peer, UBUS_STATUS_INVALID_ARGUMENT);
			return;
		}
		prefix = want.back() == '*';
		if (prefix)
			want.pop_back();
	}
	bool found = false;
	auto it = all || prefix ? paths_.lower_bound(want) : paths_.find(want);
	for (; it != paths_.end(); ++it) {
		if (!all && (prefix ? it->first.compare(0, want.size(), want) != 0 : it->first != want))
			break;
		found = true;
		// Objects without a type count as found but are not listed.
		const Object &o = objects_[it->second];
		auto t = types_.find(o.type);
		if (t != types_.end()) {
			Buf b;
			blob_put_string(&b.b, UBUS_ATTR_OBJPATH, it->first.c_str());
			blob_put_int32(&b.b, UBUS_ATTR_OBJID, it->second);
			blob_put_int32(&b.b, UBUS_ATTR_OBJTYPE, t->first);
			blob_put(&b.b, UBUS_ATTR_SIGNATURE, t->second.signature.data(),
				 static_cast<unsigned int>(t->second.signature.size()));
			queue(c, UBUS_MSG_DATA, seq, peer, b.root(), b.root_len());
		}
		if (!all && !prefix)
			break;
	}
	status(c, seq, peer, all || found ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND);
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
	if (it->second.owner != c.id)
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
	deliver(name, blobmsg_data(tb[S_DATA]), blobmsg_data_len(tb[S_DATA]), c.id);
	return UBUS_STATUS_OK;
}

// Sends event `name` to each object with a matching pattern once, in the
// patterns' byte order, except to the objects of `skip_client`.
void Bus::deliver(const std::string &name, const void *data, size_t len, uint32_t skip_client)
{
	Buf b;
	bool built = false;
	std::set<uint32_t> served;
	for (const Reg &r : regs_) {
		const bool match = r.prefix ? name.compare(0, r.pattern.size(), r.pattern) == 0 : name == r.pattern;
		if (!match)
			continue;
		auto owner = objects_.find(r.object);
		if (owner == objects_.end() || owner->second.owner == skip_client || served.count(r.object))
			continue;
		served.insert(r.object);
		Client *dest = client(owner->second.owner);
		if (!dest)
			continue;
		if (!built) {
			blob_put_int32(&b.b, UBUS_ATTR_OBJID, 0);
			blob_put_string(&b.b, UBUS_ATTR_METHOD, name.c_str());
			blob_put(&b.b, UBUS_ATTR_DATA, data, static_cast<unsigned int>(len));
			built = true;
		}
		// The first attribute is the object id: patch it per listener.
		const uint32_t be = cpu_to_be32(r.object);
		auto *objattr = static_cast<struct blob_attr *>(blob_data(b.b.head));
		memcpy(blob_data(objattr), &be, sizeof(be));
		queue(*dest, UBUS_MSG_INVOKE, ++event_seq_, 0, b.root(), b.root_len());
	}
}

} // namespace ubusd
