/*
 * Common bus definitions.
 */
#ifndef UBUS_COMMON_H
#define UBUS_COMMON_H

#include <stdbool.h>
#include <string.h>

#define UBUS_SIGNATURE_METHOD	(BLOBMSG_TYPE_LAST + 1)
#define UBUS_SIGNATURE_END	(BLOBMSG_TYPE_LAST + 2)

static inline bool ubus_strmatch_len(const char *str, const char *pattern, int *len)
{
	*len = (int)strlen(pattern);
	return strncmp(str, pattern, (size_t)*len) == 0;
}

#endif
