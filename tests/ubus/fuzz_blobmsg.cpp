// Fuzz target: attribute lists from untrusted bytes through the parsing,
// validation and JSON formatting paths, and the bytes as JSON text.

#include <libubox/blobmsg.h>

#include "json.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// An aligned private copy, as every reader of received bytes makes.
	std::vector<uint8_t> buf(data, data + size);
	void *p = buf.empty() ? nullptr : buf.data();
	const unsigned len = static_cast<unsigned>(size);

	enum { F_STR, F_I32, F_ANY, F_TAB, F_ARR, F_WIDE, F_DBL, F_MAX };
	static const struct blobmsg_policy pol[F_MAX] = {
		{"sta_leave", BLOBMSG_TYPE_STRING}, {"object", BLOBMSG_TYPE_INT32}, {"", BLOBMSG_TYPE_UNSPEC},
		{"data", BLOBMSG_TYPE_TABLE},       {"arr", BLOBMSG_TYPE_ARRAY},    {"n", BLOBMSG_CAST_INT64},
		{"d", BLOBMSG_TYPE_DOUBLE},
	};
	struct blob_attr *tb[F_MAX];
	uint64_t sink = 0;
	if (blobmsg_parse(pol, F_MAX, tb, p, len) == 0) {
		sink += tb[F_STR] ? strlen(blobmsg_get_string(tb[F_STR])) : 0;
		sink += tb[F_I32] ? blobmsg_get_u32(tb[F_I32]) : 0;
		sink += tb[F_ANY] ? blobmsg_data_len(tb[F_ANY]) : 0;
		sink += static_cast<uint64_t>(tb[F_DBL] && blobmsg_get_double(tb[F_DBL]) != 0.0);
		for (int i : {F_TAB, F_ARR}) {
			if (!tb[i])
				continue;
			if (blobmsg_check_array_len(tb[i], BLOBMSG_TYPE_UNSPEC, blob_raw_len(tb[i])) >= 0) {
				struct blob_attr *cur;
				size_t rem;
				blobmsg_for_each_attr(cur, tb[i], rem) sink += blobmsg_type(cur);
			}
			struct blob_attr *inner[F_MAX];
			blobmsg_parse(pol, F_MAX, inner, blobmsg_data(tb[i]), static_cast<unsigned>(blobmsg_data_len(tb[i])));
		}
	}
	if (p) {
		sink += ubusjson::format_list(p, size, false, true).size();
		sink += ubusjson::format_list(p, size, true).size();
		// As a root attribute of the envelope.
		static const struct blob_attr_info info[4] = {
			{BLOB_ATTR_UNSPEC, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr},
			{BLOB_ATTR_STRING, 0, 0, nullptr}, {BLOB_ATTR_NESTED, 0, 0, nullptr}};
		struct blob_attr *env[4];
		blob_parse_untrusted(static_cast<struct blob_attr *>(p), size, env, info, 4);
	}

	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	if (ubusjson::add_object(&b, std::string(reinterpret_cast<const char *>(data), size)))
		sink += ubusjson::format_list(blob_data(b.head), blob_len(b.head), false).size();
	blob_buf_free(&b);
	return sink == 0xdeadbeef ? 1 : 0;
}
