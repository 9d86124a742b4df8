// Blob and blobmsg encoding against the captured wire bytes, round trips,
// and policy parsing of good and bad attribute lists.

#include <gtest/gtest.h>

#include <libubox/blobmsg.h>

#include "json.h"
#include "test_util.h"

#include <cstring>

using ubustest::Bytes;
using ubustest::hex;
using ubustest::to_hex;

namespace {

Bytes payload_of(const struct blob_buf &b)
{
	const auto *p = static_cast<const uint8_t *>(blob_data(b.head));
	return Bytes(p, p + blob_len(b.head));
}

struct Buf {
	struct blob_buf b = {};
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
};

} // namespace

TEST(BlobEncoding, MatchesCapturedRegistrationAndSendData)
{
	// The "register" arguments of the capture: INT32 object, STRING pattern.
	Buf r;
	blobmsg_add_u32(&r.b, "object", 0x91ac7294);
	blobmsg_add_string(&r.b, "pattern", "test.event");
	EXPECT_EQ(to_hex(payload_of(r.b)),
		  to_hex(hex("85 00 00 14 00 06 6f 62 6a 65 63 74 00 00 00 00 91 ac 72 94"
			     "83 00 00 1b 00 07 70 61 74 74 65 72 6e 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00")));
	EXPECT_EQ(blob_len(r.b.head), 48u);

	// The "send" arguments: STRING id and a nested TABLE, built with the
	// nesting calls; the last child's padding counts in the table length.
	Buf s;
	blobmsg_add_string(&s.b, "id", "test.event");
	void *t = blobmsg_open_table(&s.b, "data");
	blobmsg_add_u32(&s.b, "a", 1);
	blobmsg_add_string(&s.b, "s", "hi");
	blobmsg_close_table(&s.b, t);
	EXPECT_EQ(to_hex(payload_of(s.b)),
		  to_hex(hex("83 00 00 17 00 02 69 64 00 00 00 00 74 65 73 74 2e 65 76 65 6e 74 00 00"
			     "82 00 00 24 00 04 64 61 74 61 00 00"
			     "85 00 00 0c 00 01 61 00 00 00 00 01"
			     "83 00 00 0b 00 01 73 00 68 69 00 00")));

	// Plain envelope attributes: OBJID and METHOD with zero padding.
	Buf e;
	blob_put_int32(&e.b, 3, 1);
	blob_put_string(&e.b, 4, "register");
	EXPECT_EQ(to_hex(payload_of(e.b)),
		  to_hex(hex("03 00 00 08 00 00 00 01 04 00 00 0d 72 65 67 69 73 74 65 72 00 00 00 00")));
}

TEST(BlobEncoding, JsonToBlobmsgMatchesCaptureAndRoundTrips)
{
	Buf b;
	ASSERT_TRUE(ubusjson::add_object(&b.b, R"({"a":1,"s":"hi","t":{"x":true},"arr":[1,"z"]})"));
	const Bytes p = payload_of(b.b);
	// The array and the nested bool as captured from the real tool.
	const Bytes arr = hex("81 00 00 24 00 03 61 72 72 00 00 00"
			      "85 00 00 0c 00 00 00 00 00 00 00 01"
			      "83 00 00 0a 00 00 00 00 7a 00 00 00");
	const Bytes boolx = hex("87 00 00 09 00 01 78 00 01 00 00 00");
	EXPECT_NE(std::search(p.begin(), p.end(), arr.begin(), arr.end()), p.end());
	EXPECT_NE(std::search(p.begin(), p.end(), boolx.begin(), boolx.end()), p.end());

	EXPECT_EQ(ubusjson::format_list(blob_data(b.b.head), blob_len(b.b.head), false),
		  R"({"a":1,"s":"hi","t":{"x":true},"arr":[1,"z"]})");

	// Widths, signs, doubles, null and escapes survive the trip.
	Buf c;
	ASSERT_TRUE(ubusjson::add_object(
		&c.b, R"({"big":12345678901,"neg":-2147483648,"d":1.5,"n":null,"e":"q\"\\\n\t\u0001é","f":false})"));
	EXPECT_EQ(ubusjson::format_list(blob_data(c.b.head), blob_len(c.b.head), false),
		  R"({"big":12345678901,"neg":-2147483648,"d":1.500000,"n":null,"e":"q\"\\\n\t\u0001é","f":false})");

	Buf bad;
	for (const char *t : {"[1]", "\"x\"", "{", "{\"a\":}", "{\"a\":1,}", "{\"a\":1} x", "{\"a\":\"\\q\"}", "",
			      "{\"a\":tru}"})
		EXPECT_FALSE(ubusjson::add_object(&bad.b, t)) << t;
	std::string deep(200, '[');
	EXPECT_FALSE(ubusjson::add_object(&bad.b, "{\"a\":" + deep));
}

TEST(BlobEncoding, BufferReuseAndGrowthKeepContent)
{
	struct blob_buf b = {};
	std::vector<uint8_t> big(5000);
	for (size_t i = 0; i < big.size(); i++)
		big[i] = static_cast<uint8_t>(i * 7);
	for (int round = 0; round < 3; round++) {
		ASSERT_EQ(blob_buf_init(&b, 0), 0);
		EXPECT_EQ(blob_len(b.head), 0u);
		ASSERT_EQ(blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, "rec", big.data(), 5000 - round), 0);
		ASSERT_EQ(blobmsg_add_string(&b, nullptr, "tail"), 0);
		struct blob_attr *tb[2];
		static const struct blobmsg_policy pol[2] = {{"rec", BLOBMSG_TYPE_UNSPEC}, {"", BLOBMSG_TYPE_STRING}};
		ASSERT_EQ(blobmsg_parse(pol, 2, tb, blob_data(b.head), static_cast<unsigned>(blob_len(b.head))), 0);
		ASSERT_NE(tb[0], nullptr);
		ASSERT_EQ(blobmsg_data_len(tb[0]), static_cast<size_t>(5000 - round));
		EXPECT_EQ(memcmp(blobmsg_data(tb[0]), big.data(), 5000 - round), 0);
		ASSERT_NE(tb[1], nullptr);
		EXPECT_STREQ(blobmsg_get_string(tb[1]), "tail");
		// Padding after the odd-sized value is zero.
		const auto *raw = reinterpret_cast<const uint8_t *>(tb[0]);
		for (size_t i = blob_raw_len(tb[0]); i < blob_pad_len(tb[0]); i++)
			EXPECT_EQ(raw[i], 0);
	}
	blob_buf_free(&b);
	EXPECT_EQ(b.head, nullptr);
	EXPECT_EQ(b.buflen, 0);
}

class PolicyParse : public ::testing::Test {
protected:
	enum { P_NAME, P_NUM, P_ANY, P_WIDE, P_MAX };
	const struct blobmsg_policy pol[P_MAX] = {
		{"name", BLOBMSG_TYPE_STRING},
		{"num", BLOBMSG_TYPE_INT32},
		{"any", BLOBMSG_TYPE_UNSPEC},
		{"wide", BLOBMSG_CAST_INT64},
	};
	struct blob_attr *tb[P_MAX];

	int parse(Bytes &b) { return blobmsg_parse(pol, P_MAX, tb, b.data(), static_cast<unsigned>(b.size())); }
};

TEST_F(PolicyParse, SelectsByNameAndTypeAndIgnoresTheRest)
{
	Buf b;
	blobmsg_add_string(&b.b, "other", "x");        // unknown: ignored
	blobmsg_add_u64(&b.b, "num", 5);               // wrong type: ignored
	blobmsg_add_u32(&b.b, "num", 7);               // the match
	blobmsg_add_u32(&b.b, "num", 8);               // a later duplicate: first kept
	blobmsg_add_string(&b.b, "name", "wlan-1-1");
	blobmsg_add_u8(&b.b, "any", 1);
	blobmsg_add_u16(&b.b, "wide", 300);
	Bytes p = payload_of(b.b);
	ASSERT_EQ(parse(p), 0);
	ASSERT_TRUE(tb[P_NUM] && tb[P_NAME] && tb[P_ANY] && tb[P_WIDE]);
	EXPECT_EQ(blobmsg_get_u32(tb[P_NUM]), 7u);
	EXPECT_STREQ(blobmsg_get_string(tb[P_NAME]), "wlan-1-1");
	EXPECT_STREQ(blobmsg_name(tb[P_NAME]), "name");
	EXPECT_EQ(blobmsg_type(tb[P_ANY]), BLOBMSG_TYPE_INT8);
	EXPECT_EQ(blobmsg_get_u16(tb[P_WIDE]), 300);

	// Empty input: -EINVAL with everything cleared.
	tb[0] = reinterpret_cast<struct blob_attr *>(p.data());
	EXPECT_EQ(blobmsg_parse(pol, P_MAX, tb, p.data(), 0), -EINVAL);
	EXPECT_EQ(tb[0], nullptr);
	EXPECT_EQ(blobmsg_parse(pol, P_MAX, tb, nullptr, 8), -EINVAL);
	EXPECT_EQ(blobmsg_get_string(nullptr), nullptr);
}

TEST_F(PolicyParse, MalformedAttributesFailWithoutReadingPastTheInput)
{
	// Name length runs past the attribute.
	Bytes longname = hex("83 00 00 0c 00 40 61 62 63 00 00 00");
	EXPECT_EQ(parse(longname), -1);
	// Name without its terminating NUL.
	Bytes unterminated = hex("83 00 00 0c 00 01 61 62 63 00 00 00");
	EXPECT_EQ(parse(unterminated), -1);
	// String value without NUL; integer of the wrong size; type above 8.
	Bytes nonul = hex("83 00 00 0a 00 01 61 00 68 69 00 00");
	EXPECT_EQ(parse(nonul), -1);
	Bytes shortint = hex("85 00 00 0a 00 01 61 00 00 01 00 00");
	EXPECT_EQ(parse(shortint), -1);
	Bytes badtype = hex("89 00 00 08 00 01 61 00");
	EXPECT_EQ(parse(badtype), -1);
	// An attribute header alone with no room for the name header.
	Bytes tiny = hex("83 00 00 04");
	EXPECT_EQ(parse(tiny), -1);

	// A good attribute followed by one cut short: the cut one is not
	// walked into (its length exceeds what is left), the good one is kept.
	Buf b;
	blobmsg_add_u32(&b.b, "num", 9);
	Bytes p = payload_of(b.b);
	Bytes trunc = hex("83 00 00 40 00 04 6e 61 6d 65 00 00 41 42");
	p.insert(p.end(), trunc.begin(), trunc.end());
	EXPECT_EQ(parse(p), 0);
	ASSERT_NE(tb[P_NUM], nullptr);
	EXPECT_EQ(blobmsg_get_u32(tb[P_NUM]), 9u);
	EXPECT_EQ(tb[P_NAME], nullptr);

	// Lengths below the header size end the walk.
	Bytes zero = hex("00 00 00 00 83 00 00 0c 00 01 61 00 68 69 00 00");
	EXPECT_EQ(parse(zero), 0);
	Bytes three = hex("00 00 00 03 00 00 00 00");
	EXPECT_EQ(parse(three), 0);
	// Odd total length: the walk stops where an attribute would overrun.
	Bytes odd = hex("85 00 00 10 00 03 6e 75 6d 00 00 00 00 00 00 05 aa");
	EXPECT_EQ(parse(odd), 0);
	ASSERT_NE(tb[P_NUM], nullptr);
}

TEST(BlobEnvelope, UntrustedParseChecksTypesAndBounds)
{
	const struct blob_attr_info info[4] = {
		{BLOB_ATTR_UNSPEC, 0, 0, nullptr},
		{BLOB_ATTR_INT32, 0, 0, nullptr},
		{BLOB_ATTR_STRING, 0, 0, nullptr},
		{BLOB_ATTR_NESTED, 0, 0, nullptr},
	};
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
