#include "test_util.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ubustest {

Bytes hex(const std::string &text)
{
	std::string d;
	for (char c : text)
		if (isxdigit(static_cast<unsigned char>(c)))
			d += c;
	Bytes out;
	for (size_t i = 0; i + 1 < d.size(); i += 2)
		out.push_back(static_cast<uint8_t>(std::stoi(d.substr(i, 2), nullptr, 16)));
	return out;
}

std::string to_hex(const Bytes &b)
{
	std::string s;
	char t[4];
	for (size_t i = 0; i < b.size(); i++) {
		snprintf(t, sizeof(t), i ? " %02x" : "%02x", b[i]);
		s += t;
	}
	return s;
}

TempDir::TempDir()
{
	const char *base = getenv("TMPDIR");
	std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ubustest.XXXXXX";
	if (mkdtemp(tmpl.data()))
		path_ = tmpl;
}

TempDir::~TempDir()
{
	std::error_code ec;
	if (!path_.empty())
		std::filesystem::remove_all(path_, ec);
}

int spawn(const std::vector<std::string> &argv, const std::string &out, const std::string &err)
{
	const pid_t pid = fork();
	if (pid != 0)
		return pid;
	for (const auto &[path, to] : {std::pair{out, 1}, std::pair{err, 2}}) {
		if (!path.empty())
			dup2(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), to);
	}
	std::vector<char *> args;
	for (const auto &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	execv(args[0], args.data());
	_exit(127);
}

int wait_exit(int pid)
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

bool Daemon::start()
{
	pid_ = spawn({UBUSD_PATH, "-s", socket_}, "", log_);
	for (int i = 0; pid_ > 0 && i < 500; i++) {
		const int fd = connect_raw(socket_);
		if (fd >= 0) {
			// Take the greeting so the daemon sees an orderly close.
			uint8_t hello[12];
			read_exact(fd, hello, sizeof(hello), 1000);
			close(fd);
			return true;
		}
		usleep(10000);
	}
	return false;
}

void Daemon::stop(int sig)
{
	if (pid_ <= 0)
		return;
	::kill(pid_, sig);
	wait_exit(pid_);
	pid_ = -1;
}

int connect_raw(const std::string &socket)
{
	struct sockaddr_un sun = {};
	sun.sun_family = AF_UNIX;
	if (socket.size() >= sizeof(sun.sun_path))
		return -1;
	memcpy(sun.sun_path, socket.c_str(), socket.size() + 1);
	const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd >= 0 && connect(fd, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

bool read_exact(int fd, uint8_t *p, size_t n, int timeout_ms)
{
	while (n) {
		struct pollfd pf = {fd, POLLIN, 0};
		if (poll(&pf, 1, timeout_ms) <= 0)
			return false;
		const ssize_t r = read(fd, p, n);
		if (r <= 0)
			return false;
		p += r;
		n -= static_cast<size_t>(r);
	}
	return true;
}

bool write_all(int fd, const uint8_t *p, size_t n)
{
	while (n) {
		const ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= static_cast<size_t>(r);
	}
	return true;
}

Bytes read_msg(int fd)
{
	Bytes m(12);
	if (!read_exact(fd, m.data(), 12))
		return {};
	const size_t len = (static_cast<size_t>(m[9]) << 16) | (static_cast<size_t>(m[10]) << 8) | m[11];
	if (len < 4)
		return {};
	m.resize(8 + len);
	if (len > 4 && !read_exact(fd, m.data() + 12, len - 4))
		return {};
	return m;
}

} // namespace ubustest
