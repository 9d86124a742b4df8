// The bus daemon's message handling, apart from any socket: clients are
// fed the bytes they sent, and the daemon's answers pile up in each
// client's output queue for the I/O loop to write. Named objects carry a
// type (their method signature, shared by reference); method calls are
// forwarded to the owner and its replies relayed back, with no state kept
// for a call in progress.
#ifndef UBUSD_BUS_H
#define UBUSD_BUS_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

struct blob_attr;

namespace ubusd {

using Bytes = std::vector<uint8_t>;

// Most bytes waiting to be written to one client; later messages for it
// are dropped while the queue is full.
constexpr size_t kMaxQueued = 1048576;

struct Client {
	uint32_t id = 0;
	uint32_t uid = 0;
	uint32_t gid = 0;
	std::string user, group;  // names of uid and gid, sent along with calls
	Bytes rx;                 // bytes of an incomplete message
	std::deque<Bytes> tx;     // messages waiting to be written
	size_t tx_off = 0;        // bytes of tx.front() already written
	size_t tx_bytes = 0;      // total bytes in tx
	size_t dropped = 0;       // messages dropped because tx was full
	bool monitor = false;
	uint32_t monitor_seq = 0;
	std::set<uint32_t> objects;
};

class Bus {
public:
	// `log` receives one line per notable incident (no line end).
	explicit Bus(std::function<void(const std::string &)> log, uint32_t seed = std::random_device{}());

	// Registers a connection and queues its greeting. Returns its id.
	uint32_t add_client(uint32_t uid, uint32_t gid);
	// Forgets a connection with its objects, patterns and monitor entry.
	void remove_client(uint32_t id);
	Client *client(uint32_t id);

	// Takes bytes received from a client. False when the client broke the
	// protocol and must be dropped; `why` tells how.
	bool receive(uint32_t id, const uint8_t *data, size_t len, std::string &why);

	// Ids of clients whose output queue is not empty.
	std::vector<uint32_t> clients_with_output() const;

	// Monitoring allowed also for this identity besides root.
	void set_owner(uint32_t uid, uint32_t gid)
	{
		owner_uid_ = uid;
		owner_gid_ = gid;
	}

	size_t client_count() const { return clients_.size(); }
	size_t object_count() const { return objects_.size(); }
	size_t type_count() const { return types_.size(); }
	size_t registration_count() const { return regs_.size(); }

private:
	struct Reg {
		std::string pattern;
		bool prefix;
		uint32_t object;
	};
	struct Object {
		uint32_t owner = 0;
		uint32_t type = 0;     // 0: none (not listed)
		bool has_path = false;
		std::string path;
		uint64_t serial = 0;   // creation order
	};
	struct Type {
		Bytes signature;       // the method tables, as registered
		unsigned refs = 0;
	};
	enum class IdSet { client, object, type };

	void handle(Client &c, const uint8_t *msg, size_t len);
	void queue(Client &c, uint8_t type, uint16_t seq, uint32_t peer, const uint8_t *root, size_t root_len);
	void queue_raw(Client &c, Bytes msg);
	void monitor_copy(const Client &c, bool send, uint8_t type, uint16_t seq, uint32_t peer,
			  const uint8_t *payload, size_t payload_len);
	void status(Client &c, uint16_t seq, uint32_t peer, int code);
	void handle_invoke(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb);
	void add_object(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb);
	void remove_object(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb);
	void lookup(Client &c, uint16_t seq, uint32_t peer, struct blob_attr **tb);
	void relay(Client &c, uint8_t type, uint16_t seq, uint32_t peer, struct blob_attr **tb,
		   const Bytes &root);
	// Forgets an object: its patterns, its type reference (true when that
	// was the type's last one) and its path, announcing the removal.
	bool free_object(uint32_t id);
	void object_event(const char *name, uint32_t id, const std::string &path);
	int event_register(Client &c, struct blob_attr *data);
	int event_send(Client &c, struct blob_attr *data);
	void deliver(const std::string &name, const void *data, size_t len, uint32_t skip_client);
	uint32_t new_id(IdSet set);

	std::function<void(const std::string &)> log_;
	std::mt19937 rng_;
	std::map<uint32_t, Client> clients_;
	std::map<uint32_t, Object> objects_;
	std::map<uint32_t, Type> types_;
	std::map<std::string, uint32_t> paths_; // byte-wise order
	uint64_t serial_ = 0;
	std::map<uint32_t, std::string> user_names_, group_names_;
	std::vector<Reg> regs_;                // sorted by pattern bytes
	uint16_t event_seq_ = 0;
	size_t monitors_ = 0;
	uint32_t owner_uid_ = 0;
	uint32_t owner_gid_ = 0;
};

} // namespace ubusd

#endif
