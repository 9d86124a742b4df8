// Helpers shared by the bus tests: hex texts, a self-freeing blob buffer and
// the captured messages.
#ifndef UBUS_TEST_UTIL_H
#define UBUS_TEST_UTIL_H

#include <libubox/blobmsg.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace ubustest {

using Bytes = std::vector<uint8_t>;

// "00 05 0a" -> bytes; anything but hex digits is ignored.
inline Bytes hex(const std::string &text)
{
	std::string d;
	for (char c : text)
		if (isxdigit(static_cast<unsigned char>(c)))
			d += c;
	Bytes out;
	for (size_t i = 0; i + 1 < d.size(); i += 2)
		out.push_back(static_cast<uint8_t>(std::stoi(d.substr(i, 2), nullptr, 16)));
	return out;
}

inline std::string to_hex(const Bytes &b)
{
	std::string s;
	char t[4];
	for (size_t i = 0; i < b.size(); i++) {
		snprintf(t, sizeof(t), i ? " %02x" : "%02x", b[i]);
		s += t;
	}
	return s;
}

struct Buf {
	struct blob_buf b = {};
	Buf() { blob_buf_init(&b, 0); }
	~Buf() { blob_buf_free(&b); }
	Bytes payload() const
	{
		const auto *p = static_cast<const uint8_t *>(blob_data(b.head));
		return Bytes(p, p + blob_len(b.head));
	}
};

// A captured message of tests/ubus/captured.txt by its name, as hex with a
// blank in front.
inline std::string captured(const std::string &name)
{
	const char *src = getenv("RRM_SOURCE_DIR");
	std::ifstream in(std::string(src ? src : ".") + "/tests/ubus/captured.txt");
	for (std::string l; std::getline(in, l);)
		if (l.starts_with(name + " "))
			return l.substr(name.size());
	return " captured message " + name + " missing";
}

inline const std::string kRegister = captured("REGISTER"), kRegister2 = captured("REGISTER2"),
			 kSend = captured("SEND"), kDelivery = captured("DELIVERY"), kOk = captured("OK"),
			 kDeliveryAnswer = captured("ANSWER");

} // namespace ubustest

#endif
