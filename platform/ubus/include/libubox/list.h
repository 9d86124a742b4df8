/*
 * Doubly linked list head, as embedded in the bus connection record.
 */
#ifndef LIBUBOX_LIST_H
#define LIBUBOX_LIST_H

#include <stddef.h>
#include <stdbool.h>
#include "utils.h"

struct list_head {
	struct list_head *next;
	struct list_head *prev;
};

#define LIST_HEAD_INIT(name) { &(name), &(name) }

static inline void INIT_LIST_HEAD(struct list_head *list)
{
	list->next = list->prev = list;
}

static inline bool list_empty(const struct list_head *head)
{
	return head->next == head;
}

#endif
