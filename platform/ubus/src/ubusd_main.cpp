// ubusd: the bus daemon. Listens on a Unix stream socket (the default path
// or the one given with -s), greets every client, and serves the event
// subset of the bus protocol. A client that breaks the protocol or goes
// away mid-message is dropped with a log line on standard error; the others
// carry on.

#include "bus.h"
#include "wire_limits.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int)
{
	g_stop = 1;
}

void log_line(const std::string &s)
{
	fprintf(stderr, "ubusd: %s\n", s.c_str());
}

void usage(const char *prog)
{
	fprintf(stderr,
		"Usage: %s [<options>]\n"
		"Options:\n"
		"  -s <socket>:\t\tSet the unix domain socket to listen on\n"
		"  -h:\t\t\tShow this help\n",
		prog);
}

// Creates the directory that will hold the socket when it is missing.
void make_parent_dir(const std::string &path)
{
	const size_t slash = path.rfind('/');
	if (slash == std::string::npos || slash == 0)
		return;
	const std::string dir = path.substr(0, slash);
	if (mkdir(dir.c_str(), 0755) < 0 && errno != EEXIST)
		log_line("cannot create " + dir + ": " + strerror(errno));
}

struct Server {
	int ep = -1;
	int lfd = -1;
	ubusd::Bus bus{log_line};
	std::map<int, uint32_t> fd_to_id;
	std::map<uint32_t, int> id_to_fd;
	std::map<int, bool> want_out;

	void drop(uint32_t id, const std::string &why)
	{
		auto it = id_to_fd.find(id);
		if (it == id_to_fd.end())
			return;
		if (!why.empty()) {
			char hex[16];
			snprintf(hex, sizeof(hex), "%08x", id);
			log_line(std::string("client ") + hex + " dropped: " + why);
		}
		const int fd = it->second;
		epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
		close(fd);
		fd_to_id.erase(fd);
		want_out.erase(fd);
		id_to_fd.erase(it);
		bus.remove_client(id);
	}

	void set_out(int fd, bool on)
	{
		bool &cur = want_out[fd];
		if (cur == on)
			return;
		cur = on;
		struct epoll_event ev = {};
		ev.events = on ? (EPOLLIN | EPOLLOUT) : EPOLLIN;
		ev.data.fd = fd;
		epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ev);
	}

	// Writes what is queued for one client without blocking.
	void flush(uint32_t id)
	{
		ubusd::Client *c = bus.client(id);
		auto it = id_to_fd.find(id);
		if (!c || it == id_to_fd.end())
			return;
		const int fd = it->second;
		while (!c->tx.empty()) {
			const ubusd::Bytes &m = c->tx.front();
			ssize_t n = send(fd, m.data() + c->tx_off, m.size() - c->tx_off, MSG_NOSIGNAL | MSG_DONTWAIT);
			if (n < 0) {
				if (errno == EINTR)
					continue;
				if (errno == EAGAIN || errno == EWOULDBLOCK)
					break;
				drop(id, std::string("write failed: ") + strerror(errno));
				return;
			}
			c->tx_off += static_cast<size_t>(n);
			if (c->tx_off == m.size()) {
				c->tx_bytes -= m.size();
				c->tx.pop_front();
				c->tx_off = 0;
			}
		}
		set_out(fd, !c->tx.empty());
	}

	void flush_all()
	{
		for (uint32_t id : bus.clients_with_output())
			flush(id);
	}

	void accept_clients()
	{
		for (;;) {
			int fd = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
			if (fd < 0) {
				if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
					log_line(std::string("accept failed: ") + strerror(errno));
				return;
			}
			struct ucred cred = {};
			socklen_t cl = sizeof(cred);
			if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &cl) < 0) {
				cred.uid = static_cast<uid_t>(-1);
				cred.gid = static_cast<gid_t>(-1);
			}
			struct epoll_event ev = {};
			ev.events = EPOLLIN;
			ev.data.fd = fd;
			if (epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev) < 0) {
				log_line(std::string("cannot watch a new client: ") + strerror(errno));
				close(fd);
				continue;
			}
			const uint32_t id = bus.add_client(cred.uid, cred.gid);
			fd_to_id[fd] = id;
			id_to_fd[id] = fd;
			want_out[fd] = false;
			flush(id);
		}
	}

	void read_client(int fd)
	{
		auto it = fd_to_id.find(fd);
		if (it == fd_to_id.end())
			return;
		const uint32_t id = it->second;
		static uint8_t buf[65536];
		ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
		if (n < 0) {
			if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
				return;
			drop(id, std::string("read failed: ") + strerror(errno));
			return;
		}
		if (n == 0) {
			ubusd::Client *c = bus.client(id);
			if (c && !c->rx.empty())
				drop(id, "went away in the middle of a message (" + std::to_string(c->rx.size()) +
						 " bytes received)");
			else
				drop(id, "");
			return;
		}
		std::string why;
		if (!bus.receive(id, buf, static_cast<size_t>(n), why))
			drop(id, why);
	}
};

} // namespace

int main(int argc, char **argv)
{
	std::string path = UBUS_WIRE_DEFAULT_SOCKET;
	int opt;
	while ((opt = getopt(argc, argv, "s:h")) != -1) {
		switch (opt) {
		case 's':
			path = optarg;
			break;
		default:
			usage(argv[0]);
			return opt == 'h' ? 0 : 1;
		}
	}

	struct sigaction sa = {};
	sa.sa_handler = SIG_IGN;
	sigaction(SIGPIPE, &sa, nullptr);
	sa.sa_handler = on_signal;
	sigaction(SIGTERM, &sa, nullptr);
	sigaction(SIGINT, &sa, nullptr);

	struct sockaddr_un sun = {};
	sun.sun_family = AF_UNIX;
	if (path.size() >= sizeof(sun.sun_path)) {
		log_line("socket path too long: " + path);
		return 1;
	}
	memcpy(sun.sun_path, path.c_str(), path.size() + 1);
	make_parent_dir(path);
	// A stale socket of an earlier run is replaced; anything else at the path
	// is left alone and the daemon refuses to start.
	struct stat st;
	if (lstat(path.c_str(), &st) == 0) {
		if (!S_ISSOCK(st.st_mode)) {
			log_line("not a socket, left as it is: " + path);
			return 1;
		}
		unlink(path.c_str());
	}

	Server s;
	s.bus.set_owner(getuid(), getgid());
	s.lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	// Every local user may connect, as on the platform: the socket file is
	// made with mode 0666, whatever umask the daemon was started with.
	const mode_t old_mask = umask(0111);
	const bool bound = s.lfd >= 0 && bind(s.lfd, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)) == 0;
	umask(old_mask);
	if (!bound || listen(s.lfd, 64) < 0) {
		log_line("cannot listen on " + path + ": " + strerror(errno));
		return 1;
	}
	s.ep = epoll_create1(EPOLL_CLOEXEC);
	if (s.ep < 0) {
		log_line(std::string("epoll: ") + strerror(errno));
		return 1;
	}
	struct epoll_event lev = {};
	lev.events = EPOLLIN;
	lev.data.fd = s.lfd;
	epoll_ctl(s.ep, EPOLL_CTL_ADD, s.lfd, &lev);

	struct epoll_event evs[64];
	while (!g_stop) {
		int n = epoll_wait(s.ep, evs, 64, -1);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			log_line(std::string("epoll_wait: ") + strerror(errno));
			break;
		}
		// New connections are taken after the batch, so that a descriptor
		// number freed by a drop in this batch is not confused with a new
		// client's.
		bool incoming = false;
		for (int i = 0; i < n; i++) {
			const int fd = evs[i].data.fd;
			if (fd == s.lfd) {
				incoming = true;
				continue;
			}
			if (evs[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
				s.read_client(fd);
			if ((evs[i].events & EPOLLOUT) && s.fd_to_id.count(fd))
				s.flush(s.fd_to_id[fd]);
		}
		if (incoming)
			s.accept_clients();
		s.flush_all();
	}
	unlink(path.c_str());
	return 0;
}
