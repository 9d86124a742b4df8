// Blob and blobmsg encoding and validation.
//
// Building: a blob_buf holds one root attribute at the start of a heap
// buffer; new attributes are appended behind the current head, and
// nesting moves the head into the new container. Offsets handed out as
// cookies are shifted by BLOB_COOKIE so that offset 0 is never NULL.
//
// Reading: nothing taken from an attribute header is trusted before it is
// checked against the bytes actually available.

#include <libubox/blob.h>
#include <libubox/blobmsg.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// The wire layouts: a 4-byte attribute header word, a 2-byte name length.
static_assert(sizeof(struct blob_attr) == 4);
static_assert(offsetof(struct blob_attr, id_len) == 0);
static_assert(offsetof(struct blob_attr, data) == 4);
static_assert(sizeof(struct blobmsg_hdr) == 2);
static_assert(offsetof(struct blobmsg_hdr, name) == 2);
static_assert(std::is_trivially_copyable_v<struct blob_attr>);
static_assert(std::is_trivially_copyable_v<struct blobmsg_hdr>);

namespace {

constexpr size_t kHdr = sizeof(struct blob_attr);

size_t pad4(size_t len)
{
	return (len + BLOB_ATTR_ALIGN - 1) & ~static_cast<size_t>(BLOB_ATTR_ALIGN - 1);
}

bool default_grow(struct blob_buf *buf, int minlen)
{
	const size_t delta = (static_cast<size_t>(minlen) / 256 + 1) * 256;
	void *n = realloc(buf->buf, static_cast<size_t>(buf->buflen) + delta);
	if (!n)
		return false;
	buf->buf = n;
	memset(static_cast<char *>(n) + buf->buflen, 0, delta);
	buf->buflen += static_cast<int>(delta);
	return true;
}

void attr_init(struct blob_attr *attr, int id, size_t len)
{
	uint32_t w = static_cast<uint32_t>(len) & BLOB_ATTR_LEN_MASK;
	w |= (static_cast<uint32_t>(id) << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;
	attr->id_len = cpu_to_be32(w);
}

struct blob_attr *offset_to_attr(struct blob_buf *buf, uintptr_t offset)
{
	return reinterpret_cast<struct blob_attr *>(static_cast<char *>(buf->buf) + (offset - BLOB_COOKIE));
}

uintptr_t attr_to_offset(struct blob_buf *buf, const struct blob_attr *attr)
{
	return static_cast<uintptr_t>(reinterpret_cast<const char *>(attr) - static_cast<const char *>(buf->buf)) +
	       BLOB_COOKIE;
}

// Places an attribute of `payload` bytes at `pos`, growing the buffer
// (which may move it) so that the attribute and its padding fit.
struct blob_attr *blob_add(struct blob_buf *buf, struct blob_attr *pos, int id, size_t payload)
{
	if (payload > BLOB_ATTR_LEN_MASK - kHdr)
		return nullptr;
	const uintptr_t offset = buf->buf ? attr_to_offset(buf, pos) : BLOB_COOKIE;
	const size_t end = (offset - BLOB_COOKIE) + pad4(kHdr + payload);
	if (end > static_cast<size_t>(buf->buflen)) {
		const size_t required = end - static_cast<size_t>(buf->buflen);
		if (!blob_buf_grow(buf, static_cast<int>(required)))
			return nullptr;
	}
	struct blob_attr *attr = offset_to_attr(buf, offset);
	attr_init(attr, id, payload + kHdr);
	blob_fill_pad(attr);
	return attr;
}

const unsigned int blob_type_minlen[BLOB_ATTR_LAST] = {
	0, // UNSPEC
	0, // NESTED
	0, // BINARY
	1, // STRING
	1, // INT8
	2, // INT16
	4, // INT32
	8, // INT64
	8, // DOUBLE
};

// Validation type of each blobmsg type.
const int blobmsg_blob_type[BLOBMSG_TYPE_LAST + 1] = {
	BLOB_ATTR_UNSPEC, // UNSPEC
	BLOB_ATTR_UNSPEC, // ARRAY
	BLOB_ATTR_UNSPEC, // TABLE
	BLOB_ATTR_STRING, // STRING
	BLOB_ATTR_INT64,  // INT64
	BLOB_ATTR_INT32,  // INT32
	BLOB_ATTR_INT16,  // INT16
	BLOB_ATTR_INT8,   // INT8
	BLOB_ATTR_DOUBLE, // DOUBLE
};

struct blob_attr *blobmsg_new(struct blob_buf *buf, int type, const char *name, size_t payload_len, void **data)
{
	if (!name)
		name = "";
	const size_t namelen = strlen(name);
	if (namelen > 0xffff)
		return nullptr;
	const size_t attrlen = static_cast<size_t>(blobmsg_hdrlen(static_cast<unsigned int>(namelen))) + payload_len;
	if (attrlen > BLOB_ATTR_LEN_MASK)
		return nullptr;
	struct blob_attr *attr = blob_new(buf, type, static_cast<int>(attrlen));
	if (!attr)
		return nullptr;
	attr->id_len |= cpu_to_be32(BLOB_ATTR_EXTENDED);
	auto *hdr = static_cast<struct blobmsg_hdr *>(blob_data(attr));
	const uint16_t nl = cpu_to_be16(static_cast<uint16_t>(namelen));
	memcpy(&hdr->namelen, &nl, sizeof(nl));
	memcpy(hdr->name, name, namelen);
	char *pad_start = reinterpret_cast<char *>(&hdr->name[namelen]);
	char *pad_end = static_cast<char *>(blobmsg_data(attr));
	memset(pad_start, 0, static_cast<size_t>(pad_end - pad_start));
	*data = pad_end;
	return attr;
}

} // namespace

extern "C" {

void blob_fill_pad(struct blob_attr *attr)
{
	char *p = reinterpret_cast<char *>(attr);
	const size_t len = blob_pad_len(attr);
	const size_t raw = blob_raw_len(attr);
	if (len > raw)
		memset(p + raw, 0, len - raw);
}

void blob_set_raw_len(struct blob_attr *attr, unsigned int len)
{
	len &= BLOB_ATTR_LEN_MASK;
	attr->id_len &= ~cpu_to_be32(BLOB_ATTR_LEN_MASK);
	attr->id_len |= cpu_to_be32(len);
}

bool blob_attr_equal(const struct blob_attr *a1, const struct blob_attr *a2)
{
	if (!a1 && !a2)
		return true;
	if (!a1 || !a2)
		return false;
	if (blob_pad_len(a1) != blob_pad_len(a2))
		return false;
	return !memcmp(a1, a2, blob_pad_len(a1));
}

bool blob_buf_grow(struct blob_buf *buf, int required)
{
	if (required <= 0)
		return true;
	if (static_cast<long>(buf->buflen) + required > static_cast<long>(BLOB_ATTR_LEN_MASK))
		return false;
	const uintptr_t head = (buf->buf && buf->head) ? attr_to_offset(buf, buf->head) : BLOB_COOKIE;
	if (!buf->grow || !buf->grow(buf, required))
		return false;
	buf->head = offset_to_attr(buf, head);
	return true;
}

int blob_buf_init(struct blob_buf *buf, int id)
{
	if (!buf->grow)
		buf->grow = default_grow;
	buf->head = static_cast<struct blob_attr *>(buf->buf);
	if (!blob_add(buf, static_cast<struct blob_attr *>(buf->buf), id, 0))
		return -ENOMEM;
	buf->head = static_cast<struct blob_attr *>(buf->buf);
	return 0;
}

void blob_buf_free(struct blob_buf *buf)
{
	free(buf->buf);
	buf->buf = nullptr;
	buf->head = nullptr;
	buf->buflen = 0;
}

struct blob_attr *blob_new(struct blob_buf *buf, int id, int payload)
{
	if (payload < 0 || !buf->head)
		return nullptr;
	struct blob_attr *attr = blob_add(buf, blob_next(buf->head), id, static_cast<size_t>(payload));
	if (!attr)
		return nullptr;
	const size_t total = blob_pad_len(buf->head) + blob_pad_len(attr);
	if (total > BLOB_ATTR_LEN_MASK)
		return nullptr;
	blob_set_raw_len(buf->head, static_cast<unsigned int>(total));
	return attr;
}

struct blob_attr *blob_put_raw(struct blob_buf *buf, const void *ptr, unsigned int len)
{
	if (!len)
		return nullptr;
	if (len < kHdr)
		return nullptr;
	struct blob_attr attr_hdr;
	memcpy(&attr_hdr, ptr, kHdr);
	if (blob_raw_len(&attr_hdr) != len && blob_pad_len(&attr_hdr) != len)
		return nullptr;
	struct blob_attr *attr = blob_add(buf, blob_next(buf->head), 0, len - kHdr);
	if (!attr)
		return nullptr;
	const size_t total = blob_pad_len(buf->head) + blob_pad_len(attr);
	if (total > BLOB_ATTR_LEN_MASK)
		return nullptr;
	blob_set_raw_len(buf->head, static_cast<unsigned int>(total));
	memcpy(attr, ptr, len);
	blob_fill_pad(attr);
	return attr;
}

struct blob_attr *blob_put(struct blob_buf *buf, int id, const void *ptr, unsigned int len)
{
	if (len > BLOB_ATTR_LEN_MASK)
		return nullptr;
	struct blob_attr *attr = blob_new(buf, id, static_cast<int>(len));
	if (!attr)
		return nullptr;
	if (len)
		memcpy(blob_data(attr), ptr, len);
	return attr;
}

void *blob_nest_start(struct blob_buf *buf, int id)
{
	const uintptr_t offset = attr_to_offset(buf, buf->head);
	struct blob_attr *n = blob_new(buf, id, 0);
	if (!n)
		return nullptr;
	buf->head = n;
	return reinterpret_cast<void *>(offset);
}

void blob_nest_end(struct blob_buf *buf, void *cookie)
{
	if (!cookie)
		return;
	struct blob_attr *attr = offset_to_attr(buf, reinterpret_cast<uintptr_t>(cookie));
	blob_set_raw_len(attr, static_cast<unsigned int>(blob_pad_len(attr) + blob_len(buf->head)));
	buf->head = attr;
}

bool blob_check_type(const void *ptr, unsigned int len, int type)
{
	if (type < 0 || type >= BLOB_ATTR_LAST)
		return false;
	const unsigned int minlen = blob_type_minlen[type];
	if (type >= BLOB_ATTR_INT8 && type <= BLOB_ATTR_INT64) {
		if (len != minlen)
			return false;
	} else if (len < minlen) {
		return false;
	}
	if (type == BLOB_ATTR_STRING && static_cast<const char *>(ptr)[len - 1] != 0)
		return false;
	return true;
}

int blob_parse_untrusted(struct blob_attr *attr, size_t attr_len, struct blob_attr **data,
			 const struct blob_attr_info *info, int max)
{
	if (max <= 0)
		return 0;
	memset(data, 0, sizeof(struct blob_attr *) * static_cast<size_t>(max));
	if (!attr || attr_len < kHdr)
		return 0;
	const size_t raw = be32_to_cpu(attr->id_len) & BLOB_ATTR_LEN_MASK;
	if (raw < kHdr || raw > attr_len)
		return 0;
	int found = 0;
	size_t rem = raw - kHdr;
	auto *pos = static_cast<struct blob_attr *>(blob_data(attr));
	while (rem >= kHdr) {
		const size_t len = be32_to_cpu(pos->id_len) & BLOB_ATTR_LEN_MASK;
		if (len < kHdr || pad4(len) > rem)
			break;
		const unsigned int id = blob_id(pos);
		if (static_cast<int>(id) < max) {
			bool ok = true;
			if (info) {
				const size_t plen = len - kHdr;
				const struct blob_attr_info &in = info[id];
				ok = blob_check_type(blob_data(pos), static_cast<unsigned int>(plen), static_cast<int>(in.type));
				if (ok && in.minlen && plen < in.minlen)
					ok = false;
				if (ok && in.maxlen && plen > in.maxlen)
					ok = false;
				if (ok && in.validate && !in.validate(&in, pos))
					ok = false;
			}
			if (ok) {
				if (!data[id])
					found++;
				data[id] = pos;
			}
		}
		rem -= pad4(len);
		pos = reinterpret_cast<struct blob_attr *>(reinterpret_cast<char *>(pos) + pad4(len));
	}
	return found;
}

int blob_parse(struct blob_attr *attr, struct blob_attr **data, const struct blob_attr_info *info, int max)
{
	if (!attr) {
		if (max > 0)
			memset(data, 0, sizeof(struct blob_attr *) * static_cast<size_t>(max));
		return 0;
	}
	return blob_parse_untrusted(attr, blob_raw_len(attr), data, info, max);
}

struct blob_attr *blob_memdup(struct blob_attr *attr)
{
	const size_t size = blob_pad_len(attr);
	void *p = malloc(size);
	if (p)
		memcpy(p, attr, size);
	return static_cast<struct blob_attr *>(p);
}

// ---------------------------------------------------------------- blobmsg

bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len)
{
	if (!attr || len < kHdr)
		return false;
	const size_t raw = be32_to_cpu(attr->id_len) & BLOB_ATTR_LEN_MASK;
	if (raw < kHdr || raw > len)
		return false;
	const int id = static_cast<int>(blob_id(attr));
	// Without a name header the payload is the value, and its type is
	// checked all the same.
	if (!blob_is_extended(attr)) {
		if (name || id > BLOBMSG_TYPE_LAST)
			return false;
		return blob_check_type(blob_data(attr), static_cast<unsigned int>(raw - kHdr), blobmsg_blob_type[id]);
	}
	const size_t plen = raw - kHdr;
	if (plen < sizeof(struct blobmsg_hdr))
		return false;
	const auto *hdr = static_cast<const struct blobmsg_hdr *>(blob_data(attr));
	const uint16_t namelen = blobmsg_namelen(hdr);
	if (plen < static_cast<size_t>(blobmsg_hdrlen(namelen)))
		return false;
	if (hdr->name[namelen] != 0)
		return false;
	if (name && !namelen)
		return false;
	if (id > BLOBMSG_TYPE_LAST)
		return false;
	return blob_check_type(blobmsg_data(attr), static_cast<unsigned int>(blobmsg_data_len(attr)),
			       blobmsg_blob_type[id]);
}

bool blobmsg_check_attr(const struct blob_attr *attr, bool name)
{
	if (!attr)
		return false;
	const size_t raw = be32_to_cpu(attr->id_len) & BLOB_ATTR_LEN_MASK;
	return blobmsg_check_attr_len(attr, name, raw);
}

int blobmsg_check_array_len(const struct blob_attr *attr, int type, size_t len)
{
	if (type > BLOBMSG_TYPE_LAST)
		return -1;
	if (!blobmsg_check_attr_len(attr, false, len))
		return -1;
	bool name;
	switch (blobmsg_type(attr)) {
	case BLOBMSG_TYPE_TABLE:
		name = true;
		break;
	case BLOBMSG_TYPE_ARRAY:
		name = false;
		break;
	default:
		return -1;
	}
	int size = 0;
	struct blob_attr *cur;
	size_t rem;
	blobmsg_for_each_attr(cur, attr, rem) {
		if (type != BLOBMSG_TYPE_UNSPEC && blobmsg_type(cur) != type)
			return -1;
		if (!blobmsg_check_attr_len(cur, name, rem))
			return -1;
		size++;
	}
	return size;
}

int blobmsg_check_array(const struct blob_attr *attr, int type)
{
	if (!attr)
		return -1;
	return blobmsg_check_array_len(attr, type, blob_raw_len(attr));
}

bool blobmsg_check_attr_list(const struct blob_attr *attr, int type)
{
	return blobmsg_check_array(attr, type) >= 0;
}

int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb, void *data,
		  unsigned int len)
{
	if (policy_len > 0)
		memset(tb, 0, static_cast<size_t>(policy_len) * sizeof(*tb));
	if (!data || !len)
		return -EINVAL;

	// The walk goes by padded lengths: an attribute whose length field is
	// 1 to 3 is still visited (and fails its check).
	size_t rem = len;
	auto *pos = static_cast<struct blob_attr *>(data);
	while (rem >= kHdr) {
		struct blob_attr head;
		memcpy(&head, pos, kHdr);
		const size_t raw = be32_to_cpu(head.id_len) & BLOB_ATTR_LEN_MASK;
		if (pad4(raw) < kHdr || pad4(raw) > rem)
			break;
		if (!blobmsg_check_attr_len(pos, false, rem))
			return -1;
		if (blob_is_extended(pos)) {
			const auto *hdr = static_cast<const struct blobmsg_hdr *>(blob_data(pos));
			const size_t namelen = blobmsg_namelen(hdr);
			const int id = static_cast<int>(blob_id(pos));
			for (int i = 0; i < policy_len; i++) {
				const struct blobmsg_policy &p = policy[i];
				if (!p.name || tb[i])
					continue;
				if (p.type == BLOBMSG_CAST_INT64) {
					if (id != BLOBMSG_TYPE_INT64 && id != BLOBMSG_TYPE_INT32 &&
					    id != BLOBMSG_TYPE_INT16 && id != BLOBMSG_TYPE_INT8)
						continue;
				} else if (p.type != BLOBMSG_TYPE_UNSPEC && id != static_cast<int>(p.type)) {
					continue;
				}
				if (strlen(p.name) != namelen)
					continue;
				if (memcmp(p.name, hdr->name, namelen) != 0)
					continue;
				tb[i] = pos;
			}
		}
		rem -= pad4(raw);
		pos = reinterpret_cast<struct blob_attr *>(reinterpret_cast<char *>(pos) + pad4(raw));
	}
	return 0;
}

int blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb, void *data,
			unsigned int len)
{
	if (policy_len > 0)
		memset(tb, 0, static_cast<size_t>(policy_len) * sizeof(*tb));
	if (!data || !len)
		return -EINVAL;
	// Attributes whose type is not the one of the current policy entry are
	// skipped unchecked; a match is checked and fills the entry.
	size_t rem = len;
	int i = 0;
	auto *pos = static_cast<struct blob_attr *>(data);
	while (rem >= kHdr && i < policy_len) {
		struct blob_attr head;
		memcpy(&head, pos, kHdr);
		const size_t raw = be32_to_cpu(head.id_len) & BLOB_ATTR_LEN_MASK;
		if (pad4(raw) < kHdr || pad4(raw) > rem)
			break;
		if (policy[i].type == BLOBMSG_TYPE_UNSPEC || blob_id(&head) == static_cast<unsigned int>(policy[i].type)) {
			if (!blobmsg_check_attr_len(pos, false, rem))
				return -1;
			tb[i++] = pos;
		}
		rem -= pad4(raw);
		pos = reinterpret_cast<struct blob_attr *>(reinterpret_cast<char *>(pos) + pad4(raw));
	}
	return 0;
}

int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data, unsigned int len)
{
	void *dest;
	struct blob_attr *attr = blobmsg_new(buf, type, name, len, &dest);
	if (!attr)
		return -1;
	if (len > 0)
		memcpy(dest, data, len);
	return 0;
}

void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array)
{
	if (!name)
		name = "";
	const int type = array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE;
	const uintptr_t offset = attr_to_offset(buf, buf->head);
	void *data;
	struct blob_attr *head = blobmsg_new(buf, type, name, 0, &data);
	if (!head)
		return nullptr;
	blob_set_raw_len(buf->head, static_cast<unsigned int>(blob_pad_len(buf->head) -
							     static_cast<size_t>(blobmsg_hdrlen(static_cast<unsigned int>(strlen(name))))));
	buf->head = head;
	return reinterpret_cast<void *>(offset);
}

} // extern "C"
