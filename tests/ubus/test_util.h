// Helpers shared by the bus tests: hex texts, the captured messages, private
// socket directories, child processes and raw connections.
#ifndef UBUS_TEST_UTIL_H
#define UBUS_TEST_UTIL_H

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace ubustest {

using Bytes = std::vector<uint8_t>;

// "00 05 0a" -> bytes; anything but hex digits is ignored.
Bytes hex(const std::string &text);
std::string to_hex(const Bytes &b);

// A captured exchange: a listener (object 91ac7294) registers "test.event"
// and "net.*"; a sender sends "test.event" {"a":1,"s":"hi"}, which reaches
// the listener as the bus's first delivery and is answered.
inline const std::string kRegister = "00 05 00 02 00 00 00 01 00 00 00 50 03 00 00 08 00 00 00 01"
				     "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 34"
				     "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				     "83 00 00 1b 00 07 70 61 74 74 65 72 6e 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00";
inline const std::string kRegister2 = "00 05 00 03 00 00 00 01 00 00 00 4c 03 00 00 08 00 00 00 01"
				      "04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00 07 00 00 30"
				      "85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
				      "83 00 00 16 00 07 70 61 74 74 65 72 6e 00 00 00 6e 65 74 2e 2a 00 00 00";
inline const std::string kSend = "00 05 00 01 00 00 00 01 00 00 00 58 03 00 00 08 00 00 00 01"
				 "04 00 00 09 73 65 6e 64 00 00 00 00 07 00 00 40"
				 "83 00 00 17 00 02 69 64 00 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00"
				 "82 00 00 24 00 04 64 61 74 61 00 00"
				 "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00";
inline const std::string kDelivery = "00 05 00 01 00 00 00 00 00 00 00 38 03 00 00 08 91 ac 72 94"
				     "04 00 00 0f 74 65 73 74 2e 65 76 65 6e 74 00 00 07 00 00 1c"
				     "85 00 00 0c 00 01 61 00 00 00 00 01 83 00 00 0b 00 01 73 00 68 69 00 00";
inline const std::string kDeliveryAnswer =
	"00 01 00 01 00 00 00 00 00 00 00 14 01 00 00 08 00 00 00 00 03 00 00 08 91 ac 72 94";

// A fresh private directory, removed with its files on destruction.
class TempDir {
public:
	TempDir();
	~TempDir();
	std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
	std::string path_;
};

// Starts argv[0] with stdout and stderr sent to the given files (inherited
// when empty); returns the pid.
int spawn(const std::vector<std::string> &argv, const std::string &out, const std::string &err = "");
int wait_exit(int pid); // the exit status, -1 when killed
std::string slurp(const std::string &path);

// The bus daemon as a child process on a private socket.
class Daemon {
public:
	Daemon(const std::string &socket, const std::string &log) : socket_(socket), log_(log) {}
	~Daemon() { stop(); }
	bool start(); // true once the socket accepts connections
	void stop(int sig = SIGTERM);
	std::string log() const { return slurp(log_); }

private:
	std::string socket_, log_;
	int pid_ = -1;
};

// A raw connection to a socket path, -1 on failure.
int connect_raw(const std::string &socket);
bool read_exact(int fd, uint8_t *p, size_t n, int timeout_ms = 5000);
bool write_all(int fd, const uint8_t *p, size_t n);
// Reads one whole bus message (header, root); empty on failure.
Bytes read_msg(int fd);

} // namespace ubustest

#endif
