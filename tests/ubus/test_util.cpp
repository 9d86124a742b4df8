#include "test_util.h"

#include <cctype>
#include <cstdio>

namespace ubustest {

Bytes hex(const std::string &text)
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

std::string to_hex(const Bytes &b)
{
	std::string s;
	char t[4];
	for (size_t i = 0; i < b.size(); i++) {
		snprintf(t, sizeof(t), i ? " %02x" : "%02x", b[i]);
		s += t;
	}
	return s;
}

} // namespace ubustest
