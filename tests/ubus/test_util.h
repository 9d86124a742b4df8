// Helpers shared by the bus tests: hex texts, private socket directories,
// starting and stopping the bus daemon.
#ifndef UBUS_TEST_UTIL_H
#define UBUS_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

namespace ubustest {

using Bytes = std::vector<uint8_t>;

// "00 05 | 0a" -> bytes; spaces, '|' and line ends are ignored.
Bytes hex(const std::string &text);
std::string to_hex(const uint8_t *p, size_t n);
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

// A fresh private directory, removed with its files on destruction.
class TempDir {
public:
	TempDir();
	~TempDir();
	const std::string &path() const { return path_; }
	std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
	std::string path_;
};

// The bus daemon as a child process on a private socket.
class Daemon {
public:
	explicit Daemon(const std::string &socket, const std::string &log);
	~Daemon();
	bool start();   // true once the socket accepts connections
	void stop();    // SIGTERM and wait
	void kill9();   // SIGKILL and wait
	bool running() const { return pid_ > 0; }
	std::string log() const;

private:
	std::string socket_;
	std::string log_;
	int pid_ = -1;
};

// Runs a command (argv[0] is the program path); collects stdout and the exit status.
int run(const std::vector<std::string> &argv, std::string *out = nullptr, std::string *err = nullptr);

// A raw connection to a socket path, -1 on failure.
int connect_raw(const std::string &socket);
bool read_exact(int fd, uint8_t *p, size_t n, int timeout_ms = 5000);
bool write_all(int fd, const uint8_t *p, size_t n);
// Reads one whole bus message (header, root); empty on failure.
Bytes read_msg(int fd, int timeout_ms = 5000);

} // namespace ubustest

#endif
