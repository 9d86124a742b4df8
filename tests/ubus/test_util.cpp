#include "test_util.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ubustest {

Bytes hex(const std::string &text)
{
	Bytes out;
	int hi = -1;
	for (char c : text) {
		int v;
		if (c >= '0' && c <= '9')
			v = c - '0';
		else if (c >= 'a' && c <= 'f')
			v = c - 'a' + 10;
		else if (c >= 'A' && c <= 'F')
			v = c - 'A' + 10;
		else
			continue;
		if (hi < 0) {
			hi = v;
		} else {
			out.push_back(static_cast<uint8_t>(hi << 4 | v));
			hi = -1;
		}
	}
	return out;
}

std::string to_hex(const uint8_t *p, size_t n)
{
	std::string s;
	char b[4];
	for (size_t i = 0; i < n; i++) {
		snprintf(b, sizeof(b), i ? " %02x" : "%02x", p[i]);
		s += b;
	}
	return s;
}

TempDir::TempDir()
{
	const char *base = getenv("TMPDIR");
	std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ubustest.XXXXXX";
	std::vector<char> buf(tmpl.begin(), tmpl.end());
	buf.push_back('\0');
	if (mkdtemp(buf.data()))
		path_ = buf.data();
}

TempDir::~TempDir()
{
	if (path_.empty())
		return;
	if (DIR *d = opendir(path_.c_str())) {
		while (struct dirent *e = readdir(d)) {
			if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
				unlink((path_ + "/" + e->d_name).c_str());
		}
		closedir(d);
	}
	rmdir(path_.c_str());
}

Daemon::Daemon(const std::string &socket, const std::string &log) : socket_(socket), log_(log) {}

Daemon::~Daemon()
{
	stop();
}

bool Daemon::start()
{
	pid_ = fork();
	if (pid_ == 0) {
		int fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
		if (fd >= 0) {
			dup2(fd, 2);
			close(fd);
		}
		execl(UBUSD_PATH, "ubusd", "-s", socket_.c_str(), static_cast<char *>(nullptr));
		_exit(127);
	}
	if (pid_ < 0)
		return false;
	for (int i = 0; i < 500; i++) {
		int fd = connect_raw(socket_);
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

void Daemon::stop()
{
	if (pid_ <= 0)
		return;
	::kill(pid_, SIGTERM);
	int st;
	waitpid(pid_, &st, 0);
	pid_ = -1;
}

void Daemon::kill9()
{
	if (pid_ <= 0)
		return;
	::kill(pid_, SIGKILL);
	int st;
	waitpid(pid_, &st, 0);
	pid_ = -1;
}

std::string Daemon::log() const
{
	std::ifstream f(log_);
	std::stringstream ss;
	ss << f.rdbuf();
	return ss.str();
}

static std::string slurp_fd(int fd)
{
	std::string s;
	char buf[4096];
	ssize_t n;
	while ((n = read(fd, buf, sizeof(buf))) > 0)
		s.append(buf, static_cast<size_t>(n));
	return s;
}

int run(const std::vector<std::string> &argv, std::string *out, std::string *err)
{
	int po[2], pe[2];
	if (pipe(po) < 0 || pipe(pe) < 0)
		return -1;
	pid_t pid = fork();
	if (pid == 0) {
		dup2(po[1], 1);
		dup2(pe[1], 2);
		close(po[0]);
		close(pe[0]);
		std::vector<char *> args;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		execv(args[0], args.data());
		_exit(127);
	}
	close(po[1]);
	close(pe[1]);
	// stderr is small; read stdout first, then stderr.
	std::string o = slurp_fd(po[0]);
	std::string e = slurp_fd(pe[0]);
	close(po[0]);
	close(pe[0]);
	int st = 0;
	waitpid(pid, &st, 0);
	if (out)
		*out = o;
	if (err)
		*err = e;
	return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

int connect_raw(const std::string &socket)
{
	struct sockaddr_un sun = {};
	sun.sun_family = AF_UNIX;
	if (socket.size() >= sizeof(sun.sun_path))
		return -1;
	memcpy(sun.sun_path, socket.c_str(), socket.size() + 1);
	int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

bool read_exact(int fd, uint8_t *p, size_t n, int timeout_ms)
{
	while (n) {
		struct pollfd pf = {fd, POLLIN, 0};
		if (poll(&pf, 1, timeout_ms) <= 0)
			return false;
		ssize_t r = read(fd, p, n);
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
		ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= static_cast<size_t>(r);
	}
	return true;
}

Bytes read_msg(int fd, int timeout_ms)
{
	Bytes m(12);
	if (!read_exact(fd, m.data(), 12, timeout_ms))
		return {};
	const size_t len = (static_cast<size_t>(m[9]) << 16) | (static_cast<size_t>(m[10]) << 8) | m[11];
	if (len < 4)
		return {};
	m.resize(8 + len);
	if (len > 4 && !read_exact(fd, m.data() + 12, len - 4, timeout_ms))
		return {};
	return m;
}

} // namespace ubustest
