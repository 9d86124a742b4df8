// JSON reading and writing for the bus tool. Reading: object -> TABLE,
// array -> ARRAY, string -> STRING, true/false -> INT8, integer -> INT32
// when it fits and INT64 otherwise, other numbers -> DOUBLE, null -> an
// empty UNSPEC. Writing is compact, 16/32/64-bit integers signed.

#include "json.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ubusjson {

namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
	Parser(const std::string &t, struct blob_buf *b) : s_(t), buf_(b) {}

	bool object_top(std::string *err)
	{
		ws();
		if (peek() != '{')
			return fail(err, "not a JSON object");
		if (!members(0))
			return fail(err, why_);
		ws();
		if (pos_ != s_.size())
			return fail(err, "trailing characters");
		return true;
	}

private:
	bool fail(std::string *err, const std::string &w)
	{
		if (err)
			*err = w.empty() ? "syntax error" : w;
		return false;
	}

	char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

	void ws()
	{
		while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
			pos_++;
	}

	bool bad(const char *w)
	{
		why_ = w;
		return false;
	}

	// At '{': reads members into the current table.
	bool members(int depth)
	{
		pos_++;
		ws();
		if (peek() == '}') {
			pos_++;
			return true;
		}
		for (;;) {
			ws();
			std::string name;
			if (peek() != '"' || !string(name))
				return bad("member name expected");
			ws();
			if (peek() != ':')
				return bad("':' expected");
			pos_++;
			if (!value(name.c_str(), depth))
				return false;
			ws();
			if (peek() == ',') {
				pos_++;
				continue;
			}
			if (peek() == '}') {
				pos_++;
				return true;
			}
			return bad("',' or '}' expected");
		}
	}

	bool elements(int depth)
	{
		pos_++;
		ws();
		if (peek() == ']') {
			pos_++;
			return true;
		}
		for (;;) {
			if (!value("", depth))
				return false;
			ws();
			if (peek() == ',') {
				pos_++;
				continue;
			}
			if (peek() == ']') {
				pos_++;
				return true;
			}
			return bad("',' or ']' expected");
		}
	}

	static void put_utf8(std::string &out, uint32_t cp)
	{
		if (cp < 0x80) {
			out += static_cast<char>(cp);
		} else if (cp < 0x800) {
			out += static_cast<char>(0xc0 | (cp >> 6));
			out += static_cast<char>(0x80 | (cp & 0x3f));
		} else if (cp < 0x10000) {
			out += static_cast<char>(0xe0 | (cp >> 12));
			out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
			out += static_cast<char>(0x80 | (cp & 0x3f));
		} else {
			out += static_cast<char>(0xf0 | (cp >> 18));
			out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
			out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
			out += static_cast<char>(0x80 | (cp & 0x3f));
		}
	}

	bool hex4(uint32_t &v)
	{
		if (s_.size() - pos_ < 4)
			return false;
		v = 0;
		for (int i = 0; i < 4; i++) {
			const char c = s_[pos_++];
			v <<= 4;
			if (c >= '0' && c <= '9')
				v |= static_cast<uint32_t>(c - '0');
			else if (c >= 'a' && c <= 'f')
				v |= static_cast<uint32_t>(c - 'a' + 10);
			else if (c >= 'A' && c <= 'F')
				v |= static_cast<uint32_t>(c - 'A' + 10);
			else
				return false;
		}
		return true;
	}

	// At '"': reads a string literal.
	bool string(std::string &out)
	{
		pos_++;
		while (pos_ < s_.size()) {
			const char c = s_[pos_++];
			if (c == '"')
				return true;
			if (static_cast<unsigned char>(c) < 0x20)
				return bad("control character in string");
			if (c != '\\') {
				out += c;
				continue;
			}
			if (pos_ >= s_.size())
				break;
			const char e = s_[pos_++];
			switch (e) {
			case '"': out += '"'; break;
			case '\\': out += '\\'; break;
			case '/': out += '/'; break;
			case 'b': out += '\b'; break;
			case 'f': out += '\f'; break;
			case 'n': out += '\n'; break;
			case 'r': out += '\r'; break;
			case 't': out += '\t'; break;
			case 'u': {
				uint32_t cp;
				if (!hex4(cp))
					return bad("bad \\u escape");
				if (cp >= 0xd800 && cp < 0xdc00 && s_.compare(pos_, 2, "\\u") == 0) {
					const size_t save = pos_;
					pos_ += 2;
					uint32_t lo;
					if (hex4(lo) && lo >= 0xdc00 && lo < 0xe000)
						cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
					else
						pos_ = save;
				}
				put_utf8(out, cp);
				break;
			}
			default:
				return bad("bad escape");
			}
		}
		return bad("unterminated string");
	}

	bool literal(const char *word)
	{
		const size_t n = strlen(word);
		if (s_.compare(pos_, n, word) != 0)
			return false;
		pos_ += n;
		return true;
	}

	bool number(const char *name)
	{
		const size_t start = pos_;
		bool real = false;
		if (peek() == '-')
			pos_++;
		if (!isdigit(static_cast<unsigned char>(peek())))
			return bad("bad value");
		while (pos_ < s_.size()) {
			const char c = s_[pos_];
			if (isdigit(static_cast<unsigned char>(c))) {
				pos_++;
			} else if (c == '.' || c == 'e' || c == 'E' || ((c == '+' || c == '-') && real)) {
				real = true;
				pos_++;
			} else {
				break;
			}
		}
		const std::string t = s_.substr(start, pos_ - start);
		char *end = nullptr;
		if (real) {
			errno = 0;
			const double d = strtod(t.c_str(), &end);
			if (*end)
				return bad("bad number");
			return blobmsg_add_double(buf_, name, d) == 0 || bad("out of memory");
		}
		errno = 0;
		long long v = strtoll(t.c_str(), &end, 10);
		if (*end)
			return bad("bad number");
		if (v >= INT32_MIN && v <= INT32_MAX)
			return blobmsg_add_u32(buf_, name, static_cast<uint32_t>(static_cast<int32_t>(v))) == 0 ||
			       bad("out of memory");
		return blobmsg_add_u64(buf_, name, static_cast<uint64_t>(v)) == 0 || bad("out of memory");
	}

	bool value(const char *name, int depth)
	{
		ws();
		if (depth >= kMaxDepth)
			return bad("nested too deeply");
		const char c = peek();
		if (c == '{') {
			void *cookie = blobmsg_open_table(buf_, name);
			if (!cookie)
				return bad("out of memory");
			if (!members(depth + 1))
				return false;
			blobmsg_close_table(buf_, cookie);
			return true;
		}
		if (c == '[') {
			void *cookie = blobmsg_open_array(buf_, name);
			if (!cookie)
				return bad("out of memory");
			if (!elements(depth + 1))
				return false;
			blobmsg_close_array(buf_, cookie);
			return true;
		}
		if (c == '"') {
			std::string v;
			if (!string(v))
				return false;
			return blobmsg_add_string(buf_, name, v.c_str()) == 0 || bad("out of memory");
		}
		if (literal("true"))
			return blobmsg_add_u8(buf_, name, 1) == 0 || bad("out of memory");
		if (literal("false"))
			return blobmsg_add_u8(buf_, name, 0) == 0 || bad("out of memory");
		if (literal("null"))
			return blobmsg_add_field(buf_, BLOBMSG_TYPE_UNSPEC, name, nullptr, 0) == 0 || bad("out of memory");
		return number(name);
	}

	const std::string &s_;
	struct blob_buf *buf_;
	size_t pos_ = 0;
	std::string why_;
};

void format_attr(std::string &out, const struct blob_attr *attr, bool raw_hex, int level);

// With a `level` of 0 or more (indented output), a line end and one tab
// per level; nothing in compact output (level -1).
void separator(std::string &out, int level)
{
	if (level < 0)
		return;
	out += '\n';
	out.append(static_cast<size_t>(level), '\t');
}

void format_children(std::string &out, const void *data, size_t len, bool array, bool raw_hex, int level = -1)
{
	const int inner = level < 0 ? -1 : level + 1;
	out += array ? '[' : '{';
	separator(out, inner);
	bool first = true;
	size_t rem = len;
	auto *pos = static_cast<const struct blob_attr *>(data);
	while (rem >= sizeof(struct blob_attr)) {
		struct blob_attr head;
		memcpy(&head, pos, sizeof(head));
		const size_t raw = be32_to_cpu(head.id_len) & BLOB_ATTR_LEN_MASK;
		const size_t padded = (raw + 3) & ~static_cast<size_t>(3);
		if (raw < sizeof(struct blob_attr) || padded > rem)
			break;
		if (blobmsg_check_attr_len(pos, false, rem) && blob_is_extended(pos)) {
			if (!first) {
				out += ',';
				separator(out, inner);
			}
			first = false;
			if (!array) {
				const char *name = blobmsg_name(pos);
				out += quote(name, strlen(name));
				out += level < 0 ? ":" : ": ";
			}
			format_attr(out, pos, raw_hex, inner);
		}
		rem -= padded;
		pos = reinterpret_cast<const struct blob_attr *>(reinterpret_cast<const char *>(pos) + padded);
	}
	separator(out, level);
	out += array ? ']' : '}';
}

void format_attr(std::string &out, const struct blob_attr *attr, bool raw_hex, int level)
{
	auto *a = const_cast<struct blob_attr *>(attr);
	const void *data = blobmsg_data(a);
	const size_t len = blobmsg_data_len(a);
	char num[64];
	switch (blobmsg_type(a)) {
	case BLOBMSG_TYPE_TABLE:
		format_children(out, data, len, false, raw_hex, level);
		break;
	case BLOBMSG_TYPE_ARRAY:
		format_children(out, data, len, true, raw_hex, level);
		break;
	case BLOBMSG_TYPE_STRING:
		out += quote(static_cast<const char *>(data), strnlen(static_cast<const char *>(data), len));
		break;
	case BLOBMSG_TYPE_INT8:
		out += blobmsg_get_u8(a) ? "true" : "false";
		break;
	case BLOBMSG_TYPE_INT16:
		snprintf(num, sizeof(num), "%d", static_cast<int>(static_cast<int16_t>(blobmsg_get_u16(a))));
		out += num;
		break;
	case BLOBMSG_TYPE_INT32:
		snprintf(num, sizeof(num), "%d", static_cast<int>(static_cast<int32_t>(blobmsg_get_u32(a))));
		out += num;
		break;
	case BLOBMSG_TYPE_INT64:
		snprintf(num, sizeof(num), "%" PRId64, static_cast<int64_t>(blobmsg_get_u64(a)));
		out += num;
		break;
	case BLOBMSG_TYPE_DOUBLE:
		snprintf(num, sizeof(num), "%lf", blobmsg_get_double(a));
		out += num;
		break;
	default:
		if (raw_hex && len) {
			static const char digits[] = "0123456789abcdef";
			out += '"';
			const auto *p = static_cast<const uint8_t *>(data);
			for (size_t i = 0; i < len; i++) {
				out += digits[p[i] >> 4];
				out += digits[p[i] & 15];
			}
			out += '"';
		} else {
			out += "null";
		}
		break;
	}
}

} // namespace

bool add_object(struct blob_buf *buf, const std::string &text, std::string *err)
{
	Parser p(text, buf);
	return p.object_top(err);
}

std::string format_list(const void *data, size_t len, bool array, bool raw_hex)
{
	std::string out;
	format_children(out, data, len, array, raw_hex);
	return out;
}

std::string format_indented(const void *data, size_t len)
{
	std::string out;
	format_children(out, data, len, false, false, 0);
	return out;
}

std::string quote(const char *s, size_t len)
{
	std::string out = "\"";
	for (size_t i = 0; i < len; i++) {
		const unsigned char c = static_cast<unsigned char>(s[i]);
		switch (c) {
		case '"': out += "\\\""; break;
		case '\\': out += "\\\\"; break;
		case '\b': out += "\\b"; break;
		case '\n': out += "\\n"; break;
		case '\t': out += "\\t"; break;
		case '\r': out += "\\r"; break;
		default:
			if (c < 0x20) {
				char u[8];
				snprintf(u, sizeof(u), "\\u%04x", c);
				out += u;
			} else {
				out += static_cast<char>(c);
			}
		}
	}
	out += '"';
	return out;
}

} // namespace ubusjson
