/*
 * File-descriptor record of the event loop. The bus connection embeds one
 * (its `sock` member); a foreign loop calls its `cb` when the descriptor
 * is readable. Of the loop itself only its process-wide set-up is here:
 * uloop_init opens the loop's poll descriptor and wake-up pipe (first call
 * only) and takes over SIGINT/SIGTERM (cancel flag), SIGCHLD and SIGPIPE
 * where they are still at their default; the bus client calls it on every
 * connect.
 */
#ifndef LIBUBOX_ULOOP_H
#define LIBUBOX_ULOOP_H

#include <sys/time.h>
#include <sys/types.h>
#include <stdbool.h>
#include <stdint.h>
#include <signal.h>
#include "list.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ULOOP_READ		(1 << 0)
#define ULOOP_WRITE		(1 << 1)
#define ULOOP_EDGE_TRIGGER	(1 << 2)
#define ULOOP_BLOCKING		(1 << 3)
#define ULOOP_EVENT_MASK	(ULOOP_READ | ULOOP_WRITE)

struct uloop_fd;
struct uloop_timeout;

typedef void (*uloop_fd_handler)(struct uloop_fd *u, unsigned int events);
typedef void (*uloop_timeout_handler)(struct uloop_timeout *t);

struct uloop_fd {
	uloop_fd_handler cb;
	int fd;
	bool eof;
	bool error;
	bool registered;
	uint8_t flags;
};

struct uloop_timeout {
	struct list_head list;
	bool pending;
	uloop_timeout_handler cb;
	struct timeval time;
};

extern bool uloop_cancelled;

int uloop_init(void);
void uloop_end(void);
void uloop_done(void);

#ifdef __cplusplus
}
#endif

#endif
