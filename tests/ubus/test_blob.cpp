// Blob and blobmsg: JSON conversion against captured bytes, and parsing of good, malformed and truncated attribute lists.

#include <gtest/gtest.h>

#include <libubox/blobmsg.h>

#include "json.h"
#include "../common/transcript.h"
#include "test_util.h"

#include <algorithm>

using namespace ubustest;

namespace {

std::string json(const Buf &b)
{
	return ubusjson::format_list(blob_data(b.b.head), blob_len(b.b.head), false);
}

} // namespace

TEST(BlobEncoding, JsonToBlobmsgMatchesCaptureAndRoundTrips)
{
	Buf b;
	ASSERT_TRUE(ubusjson::add_object(&b.b, R"({"a":1,"s":"hi","t":{"x":true},"arr":[1,"z"]})"));
	// The array and the nested bool, as captured.
	const Bytes p = b.payload();
	for (const Bytes &part : {hex("81 00 00 24 00 03 61 72 72 00 00 00 85 00 00 0c 00 00 00 00 00 00 00 01"
				      "83 00 00 0a 00 00 00 00 7a 00 00 00"),
				  hex("87 00 00 09 00 01 78 00 01 00 00 00")})
		EXPECT_NE(std::search(p.begin(), p.end(), part.begin(), part.end()), p.end());
	EXPECT_EQ(json(b), R"({"a":1,"s":"hi","t":{"x":true},"arr":[1,"z"]})");

	// Widths, signs, doubles, null and escapes survive the trip.
	Buf c;
	ASSERT_TRUE(ubusjson::add_object(
		&c.b, R"({"big":12345678901,"neg":-2147483648,"d":1.5,"n":null,"e":"q\"\\\n\t\u0001é","f":false})"));
	EXPECT_EQ(json(c), R"({"big":12345678901,"neg":-2147483648,"d":1.500000,"n":null,"e":"q\"\\\n\t\u0001é","f":false})");

	for (const std::string &t : std::vector<std::string>{"[1]", "\"x\"", "{", "{\"a\":}", "{\"a\":1,}", "{\"a\":1} x", "{\"a\":\"\\q\"}", "",
				    "{\"a\":tru}", "{\"a\":" + std::string(200, '[')})
		EXPECT_FALSE(ubusjson::add_object(&c.b, t)) << t;
}

TEST(BlobParse, PolicySelectsByNameAndTypeAndRefusesMalformedLists)
{
	enum { P_NAME, P_NUM, P_ANY, P_WIDE, P_MAX };
	static const struct blobmsg_policy pol[P_MAX] = {
		{"name", BLOBMSG_TYPE_STRING}, {"num", BLOBMSG_TYPE_INT32},
		{"any", BLOBMSG_TYPE_UNSPEC},  {"wide", BLOBMSG_CAST_INT64}};
	struct blob_attr *tb[P_MAX];
	auto parse = [&](Bytes &p) { return blobmsg_parse(pol, P_MAX, tb, p.data(), static_cast<unsigned>(p.size())); };

	Buf b;
	blobmsg_add_string(&b.b, "other", "x"); // unknown: ignored
	blobmsg_add_u64(&b.b, "num", 5);        // wrong type: ignored
	blobmsg_add_u32(&b.b, "num", 7);        // the match
	blobmsg_add_u32(&b.b, "num", 8);        // a later duplicate: first kept
	blobmsg_add_string(&b.b, "name", "wlan-1-1");
	blobmsg_add_u8(&b.b, "any", 1);
	blobmsg_add_u16(&b.b, "wide", 300);
	Bytes p = b.payload();
	ASSERT_EQ(parse(p), 0);
	ASSERT_TRUE(tb[P_NUM] && tb[P_NAME] && tb[P_ANY] && tb[P_WIDE]);
	EXPECT_EQ(blobmsg_get_u32(tb[P_NUM]), 7u);
	EXPECT_STREQ(blobmsg_get_string(tb[P_NAME]), "wlan-1-1");
	EXPECT_EQ(blobmsg_type(tb[P_ANY]), BLOBMSG_TYPE_INT8);
	EXPECT_EQ(blobmsg_get_u16(tb[P_WIDE]), 300);
	// Empty input: -EINVAL with everything cleared.
	EXPECT_EQ(blobmsg_parse(pol, P_MAX, tb, p.data(), 0), -EINVAL);
	EXPECT_EQ(tb[P_NUM], nullptr);
	EXPECT_EQ(blobmsg_parse(pol, P_MAX, tb, nullptr, 8), -EINVAL);

	transcript::play("ubus/blob-parse.txt", {}, [&](const std::string &line) {
		Bytes in = hex(line.substr(line.find('|')));
		EXPECT_EQ(parse(in), std::stoi(line));
		EXPECT_EQ(tb[P_NUM] != nullptr, transcript::words(line)[1] == "num");
		EXPECT_EQ(tb[P_NAME], nullptr);
	});
}

TEST(BlobParse, ArrayPolicySkipsOtherTypesUnchecked)
{
	// A malformed INT8 (2 bytes), then "x", then 7: the INT8 is not the
	// first entry's type, so it is passed over before any check.
	static const struct blobmsg_policy pol[2] = {{nullptr, BLOBMSG_TYPE_STRING}, {nullptr, BLOBMSG_TYPE_INT32}};
	Bytes in = hex("87 00 00 0a 00 00 00 00 01 02 00 00 83 00 00 0a 00 00 00 00 78 00 00 00"
		       "85 00 00 0c 00 00 00 00 00 00 00 07");
	struct blob_attr *tb[2];
	ASSERT_EQ(blobmsg_parse_array(pol, 2, tb, in.data(), static_cast<unsigned>(in.size())), 0);
	ASSERT_TRUE(tb[0] && tb[1]);
	EXPECT_STREQ(blobmsg_get_string(tb[0]), "x");
	EXPECT_EQ(blobmsg_get_u32(tb[1]), 7u);
	// A malformed attribute of the awaited type fails the parse.
	in[27] = 0x0a;
	EXPECT_EQ(blobmsg_parse_array(pol + 1, 1, tb, in.data() + 24, 12), -1);
}

TEST(BlobParse, UntrustedEnvelopeChecksTypesAndBounds)
{
	const struct blob_attr_info info[4] = {{BLOB_ATTR_UNSPEC, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr},
					       {BLOB_ATTR_STRING, 0, 0, nullptr}, {BLOB_ATTR_NESTED, 0, 0, nullptr}};
	// Root with: INT32 id1, STRING id2 lacking NUL, id 9 (beyond), id1 again (later wins).
	Bytes root = hex("00 00 00 24 01 00 00 08 00 00 00 01 02 00 00 06 41 42 00 00"
			 "09 00 00 04 01 00 00 08 00 00 00 02 03 00 00 04");
	struct blob_attr *tb[4];
	auto *attr = reinterpret_cast<struct blob_attr *>(root.data());
	EXPECT_EQ(blob_parse_untrusted(attr, root.size(), tb, info, 4), 2);
	ASSERT_NE(tb[1], nullptr);
	EXPECT_EQ(blob_get_u32(tb[1]), 2u);
	EXPECT_EQ(tb[2], nullptr);
	EXPECT_NE(tb[3], nullptr);
	// A root claiming more than was received yields nothing.
	EXPECT_EQ(blob_parse_untrusted(attr, root.size() - 4, tb, info, 4), 0);
	EXPECT_EQ(tb[1], nullptr);
}
