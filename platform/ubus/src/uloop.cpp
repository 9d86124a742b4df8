// The event loop's process-wide set-up. The loop is never run here; what
// matters is what initialising it does to the process, because every bus
// connect does it: a poll descriptor and a wake-up pipe that live until
// uloop_done, SIGINT and SIGTERM turned into a cancel flag, a SIGCHLD handler
// without SA_RESTART (blocking calls elsewhere may return EINTR), and
// SIGPIPE ignored. Dispositions that are no longer the default are kept.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <libubox/uloop.h>

bool uloop_cancelled = false;

namespace {

int g_poll_fd = -1;
int g_waker[2] = {-1, -1};

void wake()
{
	const int saved = errno;
	if (g_waker[1] >= 0) {
		const char c = 'w';
		ssize_t n = write(g_waker[1], &c, 1);
		(void)n;
	}
	errno = saved;
}

void on_cancel(int)
{
	uloop_cancelled = true;
	wake();
}

void on_child(int)
{
	wake();
}

void install_if_default(int sig, void (*handler)(int))
{
	struct sigaction sa;
	if (sigaction(sig, nullptr, &sa) != 0 || sa.sa_handler != SIG_DFL)
		return;
	sa.sa_handler = handler;
	sa.sa_flags = 0;
	sigaction(sig, &sa, nullptr);
}

} // namespace

extern "C" int uloop_init(void)
{
	if (g_poll_fd < 0) {
		g_poll_fd = epoll_create1(EPOLL_CLOEXEC);
		if (g_poll_fd < 0)
			return -1;
		if (pipe2(g_waker, O_CLOEXEC | O_NONBLOCK) != 0) {
			close(g_poll_fd);
			g_poll_fd = -1;
			return -1;
		}
	}
	install_if_default(SIGINT, on_cancel);
	install_if_default(SIGTERM, on_cancel);
	install_if_default(SIGCHLD, on_child);
	install_if_default(SIGPIPE, SIG_IGN);
	return 0;
}

extern "C" void uloop_end(void)
{
	uloop_cancelled = true;
}

extern "C" void uloop_done(void)
{
	int *fds[] = {&g_poll_fd, &g_waker[0], &g_waker[1]};
	for (int *fd : fds) {
		if (*fd >= 0)
			close(*fd);
		*fd = -1;
	}
}
