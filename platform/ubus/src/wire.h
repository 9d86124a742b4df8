// Wire pieces shared by the bus daemon and the client library: the message
// header's layout, padding, big-endian reads and the validation types of the
// envelope attributes.
#ifndef UBUS_WIRE_H
#define UBUS_WIRE_H

#include <libubus.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "wire_limits.h"

namespace ubus_wire {

static_assert(sizeof(struct ubus_msghdr) == 8);
static_assert(offsetof(struct ubus_msghdr, version) == 0);
static_assert(offsetof(struct ubus_msghdr, type) == 1);
static_assert(offsetof(struct ubus_msghdr, seq) == 2);
static_assert(offsetof(struct ubus_msghdr, peer) == 4);
static_assert(std::is_trivially_copyable_v<struct ubus_msghdr>);

inline size_t pad4(size_t n)
{
	return (n + 3) & ~static_cast<size_t>(3);
}

inline uint32_t be32_at(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return be32_to_cpu(v);
}

inline const struct blob_attr_info envelope_policy[UBUS_ATTR_MAX] = {
	/* UNSPEC */ {BLOB_ATTR_UNSPEC, 0, 0, nullptr},
	/* STATUS */ {BLOB_ATTR_INT32, 0, 0, nullptr},
	/* OBJPATH */ {BLOB_ATTR_STRING, 0, 0, nullptr},
	/* OBJID */ {BLOB_ATTR_INT32, 0, 0, nullptr},
	/* METHOD */ {BLOB_ATTR_STRING, 0, 0, nullptr},
	/* OBJTYPE */ {BLOB_ATTR_INT32, 0, 0, nullptr},
	/* SIGNATURE */ {BLOB_ATTR_NESTED, 0, 0, nullptr},
	/* DATA */ {BLOB_ATTR_NESTED, 0, 0, nullptr},
	/* TARGET */ {BLOB_ATTR_INT32, 0, 0, nullptr},
	/* ACTIVE */ {BLOB_ATTR_INT8, 0, 0, nullptr},
	/* NO_REPLY */ {BLOB_ATTR_INT8, 0, 0, nullptr},
	/* SUBSCRIBERS */ {BLOB_ATTR_NESTED, 0, 0, nullptr},
	/* USER */ {BLOB_ATTR_STRING, 0, 0, nullptr},
	/* GROUP */ {BLOB_ATTR_STRING, 0, 0, nullptr},
};

} // namespace ubus_wire

#endif
